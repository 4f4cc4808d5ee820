// Frames of the BMC I2C link, as the simulated BMC sees them: decoding of
// the frames the node writes, and building of the frames the BMC sends.
//
// Byte image (one I2C transaction): 0 length L (this byte included),
// 1 control1 (bit 7 broadcast, bits 6..0 node id), 2 control2 (bit 7
// response-require, bits 6..3 data type, bits 2..0 packet type), 3 address,
// 4 subaddress, 5.. data (L - 5 bytes). PING and PING_RESPONSE are 3 bytes.
//
// Pure functions over bytes: no I/O, no state, safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vboard {

using Bytes = std::vector<uint8_t>;

// A frame taken apart. Names are the enumerator names of the packet
// protocol ("WRITE", "STRING", "NETWORK", "SUBADDRESS_NETWORK_CONFIG_HOSTNAME");
// values without a name are given in decimal ("TYPE7", "DTYPE12", "42").
struct DecodedFrame {
    size_t size = 0;                // bytes in the transaction
    unsigned length = 0;            // byte 0 (packet_length)
    unsigned node = 0;              // control1 bits 6..0 (0 = BMC, 1..32 = node slots)
    bool broadcast = false;         // control1 bit 7
    std::string packet_type;        // control2 bits 2..0
    bool response_require = false;  // control2 bit 7
    std::string data_type;          // control2 bits 6..3
    std::string address;            // byte 3; empty in a 3-byte frame
    std::string subaddress;         // byte 4, in the vocabulary of the address; empty in a 3-byte frame
    std::string data;               // data by data type: STRING as its text (up to the NUL, non-printable
                                    // bytes as \xHH), numbers in decimal separated by spaces (FLOAT and
                                    // DOUBLE with %g), bytes in hex ("0a ff") for other types or when the
                                    // bytes are not whole items; empty without data
    std::string problem;            // empty for a well-formed frame, else what is wrong with it
    // One readable line: "len=18 node=1 bcast=0 type=WRITE resp=0 dtype=STRING
    // addr=DESCRIPTION sub=SUBADDRESS_DESCRIPTION_OS data=\"Debian 12\"" (+ " problem=...").
    std::string line() const;
};

DecodedFrame decode_frame(const Bytes& frame);

// Builds one frame: L = 5 + data.size() (3 for PING and PING_RESPONSE, whose
// address, subaddress and data are not sent). control1 carries node | broadcast.
// Throws std::invalid_argument when the data exceed 250 bytes.
Bytes build_frame(uint8_t node, bool broadcast, uint8_t packet_type, bool response_require, uint8_t data_type,
                  uint8_t address, uint8_t subaddress, const Bytes& data);

// The BMC's network commands, as the BMC sends them: node 0 (the BMC), WRITE,
// no response required, address NETWORK, subaddress 0..7. Texts travel as
// STRING data with their NUL (throws std::invalid_argument beyond 249
// characters); the mode as one UINT8 byte; apply without data (5 bytes).
constexpr uint8_t network_mode_static = 0;
constexpr uint8_t network_mode_dhcp = 1;
Bytes network_mode_frame(uint8_t mode);
Bytes network_ip_frame(const std::string& address);
Bytes network_gateway_frame(const std::string& address);
Bytes network_netmask_frame(const std::string& netmask);
Bytes network_dns1_frame(const std::string& address);
Bytes network_dns2_frame(const std::string& address);
Bytes network_apply_frame();
Bytes network_hostname_frame(const std::string& hostname);

// "05 00 2d 0e 06", "0x05,0x00" or "05002d0e06": whitespace or commas between
// bytes, optional 0x. Returns false (and leaves *out empty) on anything else.
bool parse_hex_bytes(const std::string& text, Bytes* out);
std::string hex_bytes(const Bytes& bytes);  // "05 00 2d"

}  // namespace vboard
