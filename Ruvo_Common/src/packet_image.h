// The byte image of a packet, encoded and decoded in this one place for
// every transport: the stream reader and writer, the socket server's client
// connections and the BMC I2C frame. Pure: no I/O, no state. Private to the
// project (not installed).
//
// Image of a packet with packet_length L (see BMC_data_protocol.h):
//   header, min(L, 5) bytes: L, control1, control2, address, subaddress;
//   data, L - 5 bytes, only when L > 5.
// So the image is L bytes long; a reader of a stream still takes the length
// byte of a packet whose L is 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "BMC_data_protocol.h"

// Bytes of the longest image (packet_length is one byte).
constexpr std::size_t packet_image_max_length = 255;
static_assert(BMC::packet_header_length + BMC::max_packet_data_length == packet_image_max_length,
              "the longest packet fills the image");

// Bytes a stream reader takes for the packet whose length byte is L.
inline std::size_t count_stream_packet_bytes(uint8_t packet_length) { return packet_length == 0 ? 1 : packet_length; }

// The header of packet, its first min(L, 5) bytes, into header; returns how
// many were written.
uint8_t encode_packet_header(const BMC::Packet& packet, uint8_t (&header)[BMC::packet_header_length]);

// Header fields from the first count bytes of header (count at most 5): byte
// 0 into packet_length, then control1, control2, address, subaddress. The
// fields beyond count are left as they are; the data is not touched.
void decode_packet_header(const uint8_t* header, std::size_t count, BMC::Packet* packet);

// The image of packet into image; returns its length, L. The data bytes of a
// record without its data array (a refused data store) stay 0.
std::size_t encode_packet_image(const BMC::Packet& packet, uint8_t (&image)[packet_image_max_length]);

// Reshapes packet from an image whose first byte is L and which holds at
// least min(L, 5) header bytes and, when L > 5, the L - 5 data bytes after
// them: the record gets the length, the header fields the image carries
// (the others 0) and a data array of its own.
void decode_packet_image(const uint8_t* image, BMC::Packet* packet);
