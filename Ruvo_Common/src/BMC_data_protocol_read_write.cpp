// Packet stream I/O (see BMC_data_protocol_read_write.h for the result codes).
#include "BMC_data_protocol_read_write.h"

#include <unistd.h>

#include <chrono>

#include "packet_image.h"
#include "packet_read_within.h"

namespace {

// End of a packet's time window; none for the plain reader.
struct Read_Deadline {
    bool bounded = false;
    std::chrono::steady_clock::time_point end;
};

bool is_deadline_passed(const Read_Deadline& deadline)
{
    return deadline.bounded && std::chrono::steady_clock::now() >= deadline.end;
}

// Reads exactly length bytes into buffer, continuing short reads.
// false when read returns 0 (end of stream) or fails, or when the deadline
// has passed before a read.
bool get_bytes_read(int fd, uint8_t* buffer, size_t length, const Read_Deadline& deadline)
{
    size_t received = 0;
    while (received < length) {
        if (is_deadline_passed(deadline))
            return false;
        ssize_t n = read(fd, buffer + received, length - received);
        if (n <= 0)
            return false;
        received += static_cast<size_t>(n);
    }
    return true;
}

// Writes exactly length bytes from buffer, continuing short writes.
bool set_bytes_write(int fd, const uint8_t* buffer, size_t length)
{
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = write(fd, buffer + sent, length - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// The reader of both forms; the window (when bounded) starts once the
// length byte has arrived.
uint8_t read_packet(int fd, BMC::Packet* packet, bool bounded, unsigned int window_ms)
{
    uint8_t packet_length = 0;
    if (read(fd, &packet_length, 1) <= 0)
        return 1;
    Read_Deadline deadline;
    if (bounded) {
        deadline.bounded = true;
        deadline.end = std::chrono::steady_clock::now() + std::chrono::milliseconds(window_ms);
    }
    BMC::init_Packet(packet, packet_length);

    uint8_t header_length = BMC::get_Packet_Header_Length(*packet);
    if (header_length > 1) {
        uint8_t header[BMC::packet_header_length] = {packet_length};
        bool whole = get_bytes_read(fd, header + 1, header_length - 1u, deadline);
        // What arrived is kept; the bytes that did not stay 0.
        decode_packet_header(header, header_length, packet);
        if (!whole)
            return 2;
    }

    uint8_t data_length = BMC::get_Packet_Data_Length(*packet);
    if (data_length > 0 && !get_bytes_read(fd, packet->data, data_length, deadline))
        return 3;
    return 0;
}

}  // namespace

uint8_t get_Packet_Read(int fd, BMC::Packet* packet) { return read_packet(fd, packet, false, 0); }

uint8_t read_packet_within(int fd, BMC::Packet* packet, unsigned int window_ms)
{
    return read_packet(fd, packet, true, window_ms);
}

uint8_t set_Packet_Write(int fd, const BMC::Packet& packet)
{
    uint8_t data_length = BMC::get_Packet_Data_Length(packet);
    // A record whose data store was refused has no bytes to send: nothing of
    // it goes out, so the stream stays in step.
    if (data_length > 0 && packet.data == nullptr)
        return 2;
    uint8_t header[BMC::packet_header_length];
    uint8_t header_length = encode_packet_header(packet, header);
    if (!set_bytes_write(fd, header, header_length))
        return 1;
    if (data_length > 0 && !set_bytes_write(fd, packet.data, data_length))
        return 2;
    return 0;
}
