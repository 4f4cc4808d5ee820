// Text side of the example programs: packet fields from command-line words
// and packets decoded to one readable line. Pure functions, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BMC_data_protocol.h"

namespace packet_text {

// Fields of the one request the client sends.
struct Request_Fields {
    uint8_t node = 0;  // 0 (BMC) .. 127
    BMC::PACKET_TYPE type = BMC::PACKET_TYPE::READ;
    BMC::ADDRESS address = BMC::ADDRESS::DESCRIPTION;
    uint8_t subaddress = 0;
    bool response_require = false;
    bool has_text = false;  // data is a string (sent with its NUL)
    std::string text;
    std::vector<uint8_t> bytes;  // data as raw bytes (UINT8) when !has_text
};

// A packet type or address by name (case-insensitive, e.g. "read_response",
// "network") or by number. false when the word names none.
bool get_type(const std::string& word, BMC::PACKET_TYPE* type);
bool get_address(const std::string& word, BMC::ADDRESS* address);
// A number from 0 to max, decimal or 0x-prefixed hexadecimal.
bool get_number(const std::string& word, unsigned int max, unsigned int* value);
// Hex digits, optionally separated by spaces, colons or commas ("01 ff",
// "01:ff", "01ff"); at most 250 bytes. false on an odd digit count or a
// character that is not a digit.
bool get_hex_bytes(const std::string& word, std::vector<uint8_t>* bytes);

// Builds the request (PING types carry no data). false with *error set when
// the data does not fit one packet.
bool set_request_packet(const Request_Fields& fields, BMC::Packet* packet, std::string* error);

// "type=READ_RESPONSE node=3 address=DESCRIPTION subaddress=0 data=\"text\""
// (no address/subaddress for a 3-byte PING header; broadcast=yes when the
// flag is set; data as text for STRING, hex=.. otherwise).
std::string get_packet_line(const BMC::Packet& packet);

const char* get_type_name(BMC::PACKET_TYPE type);
const char* get_address_name(BMC::ADDRESS address);

}  // namespace packet_text
