// The two buffers of one client connection of the local socket server, kept
// apart from the socket calls so that they can be checked with byte arrays
// and a given time. Private to the library (not installed).
//
// Request_Buffer: the bytes a non-blocking connection has delivered, taken
// as whole packets; remembers when the first byte of a packet still partly
// missing arrived, for the server's arrival window.
// Send_Queue: the packet images (responses and broadcasts, in order) that
// the connection's socket has not taken yet, capped: a client that does not
// read is dropped rather than buffered without end.
#pragma once

#include <sys/uio.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "BMC_data_protocol.h"
#include "packet_image.h"

using Server_Clock = std::chrono::steady_clock;

class Request_Buffer {
public:
    // Bytes held: a partial packet (at most 254) leaves room for one read of
    // at least a whole longest packet.
    static constexpr std::size_t capacity = 2 * packet_image_max_length + 2;

    // Moves what is held to the front and returns where the next read goes;
    // *length is the room there.
    uint8_t* prepare_read(std::size_t* length);
    // count bytes were read into the room at time now.
    void commit(std::size_t count, Server_Clock::time_point now);
    // Reshapes *packet from the first whole packet held and takes its bytes
    // (a length byte of 0 is a packet of its own); false while none is whole.
    bool take_packet(BMC::Packet* packet);

    // True while part of a packet is held.
    bool is_partial() const { return end_ > start_; }
    // When the first byte of the partial packet arrived.
    Server_Clock::time_point get_partial_since() const { return partial_since_; }
    // What the partial packet lacks, as the stream reader's codes: 2 part of
    // its header, 3 part of its data.
    uint8_t get_missing_phase() const;
    void clear() { start_ = end_ = 0; }

private:
    uint8_t bytes_[capacity];
    std::size_t start_ = 0;  // first byte not taken
    std::size_t end_ = 0;    // one past the last byte held
    Server_Clock::time_point partial_since_;
    Server_Clock::time_point last_commit_;
};

// Why a packet is sent: each kind names its own log line when writing fails.
enum class Packet_Origin : uint8_t { RESPONSE, BROADCAST };

class Send_Queue {
public:
    // Packets a client may leave waiting here, beyond what its socket holds.
    static constexpr std::size_t capacity = 256;
    // Pieces one gather write takes at most.
    static constexpr int max_pieces = 64;

    bool is_empty() const { return packets_.empty(); }
    // Appends an image of length bytes (1..255) of which the first sent have
    // gone out already. false, and nothing appended, when capacity packets
    // wait already.
    bool push(const uint8_t* image, std::size_t length, std::size_t sent, Packet_Origin origin);
    // The waiting bytes in order, one piece per packet, at most max_pieces;
    // returns how many pieces were filled.
    int fill_pieces(iovec (&pieces)[max_pieces]) const;
    // count bytes from the front have gone out.
    void consume(std::size_t count);
    // The packet at the front (the queue must not be empty): its origin, and
    // whether all of its header has gone out.
    Packet_Origin get_front_origin() const { return packets_.front().origin; }
    bool is_front_header_sent() const;
    void clear() { packets_.clear(); }

private:
    struct Waiting_Packet {
        uint8_t image[packet_image_max_length];
        uint8_t length;
        uint8_t sent;
        Packet_Origin origin;
    };
    std::deque<Waiting_Packet> packets_;
};
