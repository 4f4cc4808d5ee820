// Pure text work of the netplan file and of the BMC's network texts: each
// setting's edit of the whole file text, the values read from the file's
// lines, the values spliced into them, the mask conversions, and the checks
// that keep anything but an address or a host name out of the file and the
// shell. No I/O here.
//
// Value shapes (the text behind "addresses:" etc., as config_edit reads it):
//   interface address list  "[a.b.c.d/n]"
//   name server list        "[a.b.c.d,e.f.g.h]"
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "buffer_sizes.h"
#include "config.h"

namespace netplan_text {

// Size of the buffer a composed value must fit (NUL included): the command
// buffer it was once composed in.
constexpr std::size_t compose_size = command_buffer_size;
// Longest dotted IPv4 text ("255.255.255.255").
constexpr std::size_t address_text_max = 15;
// Longest host name, and longest label in it.
constexpr std::size_t hostname_max = 64;
constexpr std::size_t hostname_label_max = 63;

// Consecutive one bits of the low byte, from bit 7 downward.
uint8_t get_Bit_Count(uint32_t data);
// Sum of the leading-ones counts of the first four dot-separated parts
// (each read as a decimal number): "255.255.0.0" 16, "255.255.255" 24.
uint8_t get_Subnetmask_Bit_Count(const char* str);

// Readers of the interface address list.
std::string address_of(std::string_view value);  // leading '['s skipped, cut at '/'
std::string mask_of(std::string_view value);     // dotted mask of the prefix length (0..32)
// Readers of the name server list.
std::string dns1_of(std::string_view value);  // behind '[' up to ','
std::string dns2_of(std::string_view value);  // behind ',' up to ']'; empty without ','

// Composers; nullopt when the result would not fit compose_size or would
// hold a line end (CR or LF) taken from the old value.
// "[address/old prefix]"
std::optional<std::string> with_address(std::string_view value, const char* address);
// The value with its prefix length replaced: everything behind the first '/'
// becomes "bits]"; a list without '/' gets "/bits]" in place of its ']'.
std::optional<std::string> with_prefix(std::string_view value, unsigned bits);
// "[dns1" followed by the old list from its first ',' on ("]" without one).
std::optional<std::string> with_dns1(std::string_view value, const char* dns1);
// The old list up to its first ',' included, then "dns2]"; a list without
// ',' keeps its first entry and gains the second.
std::optional<std::string> with_dns2(std::string_view value, const char* dns2);

// The whole file text after setting one value, as set_Network_Config_Data
// describes it (MODE: value[0] 0 for DHCP, anything else static): the
// uncommenting, reading and splicing steps of the setting, in order, on the
// text. The value is not checked here. Unknown types leave the text as is.
std::string with_setting(std::string_view text, NETWORK_CONFIG_TYPE type, const char* value);
// One setting as get_Network_Config_Data reports it, read from the file
// text (commented-out lines count): MODE one byte, 0 when the mode line
// holds "yes", else 1; the others their text. Empty for unknown types.
std::string setting_of(std::string_view text, NETWORK_CONFIG_TYPE type);

// A dotted-quad IPv4 address: four decimal parts 0 to 255, without leading
// zeros, as inet_pton(AF_INET) accepts it (netplan reads parts with
// leading zeros differently). Reads at most address_text_max + 1 bytes.
bool is_ipv4_address(const char* text);
// A netmask text: three or four dot-separated decimal parts of 1 to 3
// digits, each 0 to 255 (three parts stand for the first three octets).
// Reads at most address_text_max + 1 bytes.
bool is_mask_text(const char* text);
// The check of a setting's value: the netmask rule for SUBNETMASK, the
// address rule for the address, gateway and name servers.
bool is_setting_value(NETWORK_CONFIG_TYPE type, const char* text);
// The rule is_setting_value applies, in words, for the refusal's log line.
const char* setting_value_rule(NETWORK_CONFIG_TYPE type);
// A valid host name: dot-separated labels of 1 to 63 letters, digits and
// hyphens, no label starting or ending with a hyphen, 64 characters at most.
// Reads at most hostname_max + 1 bytes of `text`.
bool is_hostname(const char* text);

}  // namespace netplan_text
