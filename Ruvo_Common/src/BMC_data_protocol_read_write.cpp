// Packet stream I/O (see BMC_data_protocol_read_write.h for the result codes).
#include "BMC_data_protocol_read_write.h"

#include <unistd.h>

#include "packet_image.h"

namespace {

// Reads exactly length bytes into buffer, continuing short reads. false when
// read returns 0 (end of stream) or fails.
bool read_bytes(int fd, uint8_t* buffer, size_t length)
{
    size_t received = 0;
    while (received < length) {
        ssize_t n = read(fd, buffer + received, length - received);
        if (n <= 0)
            return false;
        received += static_cast<size_t>(n);
    }
    return true;
}

// Writes exactly length bytes from buffer, continuing short writes.
bool write_bytes(int fd, const uint8_t* buffer, size_t length)
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

}  // namespace

uint8_t get_Packet_Read(int fd, BMC::Packet* packet)
{
    // The length byte, then the rest of the header, then the data: never a
    // byte of the next packet, so the caller may go on reading the stream.
    uint8_t header[BMC::packet_header_length] = {};
    if (read(fd, header, 1) <= 0)
        return 1;
    BMC::init_Packet(packet, header[0]);

    uint8_t header_length = BMC::get_Packet_Header_Length(*packet);
    if (header_length > 1) {
        bool whole = read_bytes(fd, header + 1, header_length - 1u);
        // What arrived is kept; the bytes that did not stay 0.
        decode_packet_header(header, header_length, packet);
        if (!whole)
            return 2;
    }

    uint8_t data_length = BMC::get_Packet_Data_Length(*packet);
    if (data_length > 0 && !read_bytes(fd, packet->data, data_length))
        return 3;
    return 0;
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
    if (!write_bytes(fd, header, header_length))
        return 1;
    if (data_length > 0 && !write_bytes(fd, packet.data, data_length))
        return 2;
    return 0;
}
