// Byte layouts of the BMC I2C link, kept apart from the bus I/O so that they
// can be checked with plain byte arrays. The packet's image itself is the
// library's one codec (packet_image.h), the same bytes as on the socket.
//
// Node to BMC: the packet's byte image, packet_length bytes in one write:
//   length, control1, control2, address, subaddress, data (length - 5 bytes);
//   only the first `length` header bytes when length is 5 or less.
// BMC to node: one 256-byte read; byte 0 is the packet length L; bytes from
//   L on are ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "BMC_data_protocol.h"
#include "packet_image.h"

// Bytes of one read from the BMC.
constexpr std::size_t i2c_frame_size = 256;
// Bytes the longest packet takes on the bus (packet_length is one byte).
constexpr std::size_t i2c_packet_buffer_size = packet_image_max_length;
// Room for the longest text datum and a terminating NUL.
constexpr std::size_t i2c_packet_text_size = BMC::max_packet_data_length + 1;

// Reshapes *packet from a frame read from the BMC: packet_length := L; when L
// is above 5 the header is bytes 0..4 and the data bytes 5..L-1 (kept as
// they stand, whatever the data type); otherwise the first L bytes fill the
// leading header fields, the others stay 0 and the packet has no data.
void get_i2c_frame_packet(const uint8_t (&frame)[i2c_frame_size], BMC::Packet* packet);

// Lays out the byte image of packet in buffer and returns its length, which
// is packet_length. Bytes a record without its data array would need stay 0.
std::size_t get_i2c_packet_frame(const BMC::Packet& packet, uint8_t (&buffer)[i2c_packet_buffer_size]);

// Copies the packet's data into text as a NUL-terminated string that never
// reaches past the data: the text ends at the first NUL of the data or at
// the data's end. Returns false (text empty) when the packet has no data.
bool get_i2c_packet_text(const BMC::Packet& packet, char (&text)[i2c_packet_text_size]);
