// Packet stream I/O (see BMC_data_protocol_read_write.h for the result codes).
#include "BMC_data_protocol_read_write.h"

#include <unistd.h>

namespace {

// Reads exactly length bytes into buffer, continuing short reads.
// false when read returns 0 (end of stream) or fails.
bool get_Bytes_Read(int fd, uint8_t* buffer, size_t length) {
  size_t received = 0;
  while (received < length) {
    ssize_t n = read(fd, buffer + received, length - received);
    if (n <= 0) return false;
    received += static_cast<size_t>(n);
  }
  return true;
}

// Writes exactly length bytes from buffer, continuing short writes.
bool set_Bytes_Write(int fd, const uint8_t* buffer, size_t length) {
  size_t sent = 0;
  while (sent < length) {
    ssize_t n = write(fd, buffer + sent, length - sent);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

uint8_t get_Packet_Read(int fd, BMC::Packet* packet) {
  uint8_t packet_length = 0;
  if (read(fd, &packet_length, 1) <= 0) return 1;
  BMC::init_Packet(packet, packet_length);

  // The header bytes after the length byte go straight into the record.
  uint8_t header_length = BMC::get_Packet_Header_Length(*packet);
  if (header_length > 1) {
    uint8_t* header = reinterpret_cast<uint8_t*>(packet);
    if (!get_Bytes_Read(fd, header + 1, header_length - 1u)) return 2;
  }

  uint8_t data_length = BMC::get_Packet_Data_Length(*packet);
  if (data_length > 0 && !get_Bytes_Read(fd, packet->data, data_length)) return 3;
  return 0;
}

uint8_t set_Packet_Write(int fd, const BMC::Packet& packet) {
  uint8_t header_length = BMC::get_Packet_Header_Length(packet);
  const uint8_t* header = reinterpret_cast<const uint8_t*>(&packet);
  if (!set_Bytes_Write(fd, header, header_length)) return 1;

  uint8_t data_length = BMC::get_Packet_Data_Length(packet);
  if (data_length > 0 && !set_Bytes_Write(fd, packet.data, data_length)) return 2;
  return 0;
}
