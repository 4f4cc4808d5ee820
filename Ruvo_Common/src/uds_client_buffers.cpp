// Buffers of a client connection (see uds_client_buffers.h).
#include "uds_client_buffers.h"

#include <algorithm>
#include <cstring>

static_assert(Request_Buffer::capacity >= 2 * packet_image_max_length,
              "after a partial packet there is room for a whole longest one");

uint8_t* Request_Buffer::prepare_read(std::size_t* length)
{
    if (start_ > 0) {
        std::memmove(bytes_, bytes_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    *length = capacity - end_;
    return bytes_ + end_;
}

void Request_Buffer::commit(std::size_t count, Server_Clock::time_point now)
{
    if (count == 0)
        return;
    if (!is_partial())
        partial_since_ = now;
    end_ += count;
    last_commit_ = now;
}

bool Request_Buffer::take_packet(BMC::Packet* packet)
{
    const std::size_t held = end_ - start_;
    if (held == 0)
        return false;
    const std::size_t length = count_stream_packet_bytes(bytes_[start_]);
    if (held < length)
        return false;
    decode_packet_image(bytes_ + start_, packet);
    start_ += length;
    if (start_ == end_) {
        clear();
    } else {
        // Whole packets are taken after every read, so what follows a
        // packet arrived with the latest read.
        partial_since_ = last_commit_;
    }
    return true;
}

uint8_t Request_Buffer::get_missing_phase() const
{
    const uint8_t header_length = std::min<uint8_t>(bytes_[start_], BMC::packet_header_length);
    return end_ - start_ < header_length ? 2 : 3;
}

bool Send_Queue::push(const uint8_t* image, std::size_t length, std::size_t sent, Packet_Origin origin)
{
    if (packets_.size() >= capacity)
        return false;
    packets_.emplace_back();
    Waiting_Packet& waiting = packets_.back();
    std::memcpy(waiting.image, image, length);
    waiting.length = static_cast<uint8_t>(length);
    waiting.sent = static_cast<uint8_t>(sent);
    waiting.origin = origin;
    return true;
}

int Send_Queue::fill_pieces(iovec (&pieces)[max_pieces]) const
{
    int count = 0;
    for (auto it = packets_.begin(); it != packets_.end() && count < max_pieces; ++it, ++count) {
        pieces[count].iov_base = const_cast<uint8_t*>(it->image + it->sent);
        pieces[count].iov_len = static_cast<std::size_t>(it->length - it->sent);
    }
    return count;
}

void Send_Queue::consume(std::size_t count)
{
    while (count > 0 && !packets_.empty()) {
        Waiting_Packet& front = packets_.front();
        const std::size_t left = static_cast<std::size_t>(front.length - front.sent);
        if (count < left) {
            front.sent = static_cast<uint8_t>(front.sent + count);
            return;
        }
        count -= left;
        packets_.pop_front();
    }
}

bool Send_Queue::is_front_header_sent() const
{
    const Waiting_Packet& front = packets_.front();
    return front.sent >= std::min<uint8_t>(front.length, BMC::packet_header_length);
}
