// Pure text work of the netplan file and of the BMC's network texts. No I/O
// here.
//
// The daemon's lines (config_netplan_lines.cpp) are found by their key, the
// word right before ':' behind the indentation and any '#' marks: "dhcp4",
// "gateway4", "nameservers", "addresses". An "addresses" line inside a
// "nameservers" block (its nearest less-indented key line is
// "nameservers") holds the name servers; any other "addresses" line holds
// the interface's address.
//
// An unset value is never an active entry. The forms, for a set address A,
// prefix length P, gateway G and name servers D1, D2 (x.x.x.x stands for
// an unset value and appears only behind '#'):
//   interface address   "addresses: [A/P]"; unset: "#addresses: [x.x.x.x/P]"
//                       (P kept for the address to come, 24 when none)
//   gateway             "gateway4: G";      unset: "#gateway4: x.x.x.x"
//   name servers        "addresses: [D1,D2]", "addresses: [D1]",
//                       "addresses: [D2] #[x.x.x.x,D2]" (D2 stays the
//                       second once D1 comes); none set:
//                       "#addresses: [x.x.x.x,x.x.x.x]"
//   "nameservers:"      active exactly when a line under it is active
//                       (netplan rejects the key with nothing under it)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "buffer_sizes.h"
#include "config.h"

namespace netplan_text {

// Longest value written into a line (NUL included): the command buffer it
// was once composed in.
constexpr std::size_t compose_size = command_buffer_size;
// Longest dotted IPv4 text ("255.255.255.255").
constexpr std::size_t address_text_max = 15;
// Longest host name, and longest label in it.
constexpr std::size_t hostname_max = 64;
constexpr std::size_t hostname_label_max = 63;
// An unset value, as the file shows it behind '#' and as reads report it.
constexpr char unset_value[] = "x.x.x.x";
// Prefix length of an address whose line holds none.
constexpr char default_prefix[] = "24";

// Consecutive one bits of the low byte, from bit 7 downward.
uint8_t get_Bit_Count(uint32_t data);
// Sum of the leading-ones counts of the first four dot-separated parts
// (each read as a decimal number): "255.255.0.0" 16, "255.255.255" 24.
uint8_t get_Subnetmask_Bit_Count(const char* str);
// The dotted mask of a prefix length text (0..32, above 32 counts as 32).
std::string mask_of_prefix(std::string_view prefix);

// The interface's address list, "[address/prefix]" (further entries, a
// second address of a hand edit, are not kept).
struct Interface_Address {
    std::string address;  // empty for "[]"
    std::string prefix;   // empty when the list holds none
};
Interface_Address parse_interface_address(std::string_view value);
// An address that is neither empty nor the placeholder.
bool is_set(const Interface_Address& list);
// "[address/prefix]", the default prefix when there is none or it is not
// a prefix length (1 to 32).
std::string interface_address_text(const Interface_Address& list);

// The name servers' list; an entry not set holds unset_value. A list
// without ',' holds the first server only; "[D2] #[x.x.x.x,D2]" is read
// from its comment.
struct Name_Servers {
    std::string first;
    std::string second;  // the rest of the list behind the first ','
};
Name_Servers parse_name_servers(std::string_view value);
bool is_set(const Name_Servers& list);
// The active form of the list (above); "[x.x.x.x,x.x.x.x]" when none is set.
std::string name_servers_text(const Name_Servers& list);

// A gateway value that is set: not empty, not the placeholder.
bool is_gateway_set(std::string_view value);

// The whole file text after setting one value, as set_Network_Config_Data
// describes it (MODE: value[0] 0 for DHCP, anything else static). Every
// edit also brings the daemon's other lines into the forms above (a file of
// an earlier version held placeholders in active lines). The value is not
// checked here. Unknown types leave the text as it is. `missing` names the
// line the setting needs when the file holds none (the text is then
// unchanged); nothing is appended.
struct Setting_Edit {
    std::string text;
    const char* missing = nullptr;
};
Setting_Edit with_setting(std::string_view text, NETWORK_CONFIG_TYPE type, const char* value);
// One setting as get_Network_Config_Data reports it, read from the file
// text (commented-out lines count): MODE one byte, 0 when the mode line
// holds "yes", else 1; the others their text. Empty for unknown types.
std::string setting_of(std::string_view text, NETWORK_CONFIG_TYPE type);
// True when the active "dhcp4" line says no (false, off) and no active line
// gives the interface an address (a set interface address, or dhcp6 on).
bool says_static_without_address(std::string_view text);

// A dotted-quad IPv4 address: four decimal parts 0 to 255, without leading
// zeros, as inet_pton(AF_INET) accepts it (netplan reads parts with
// leading zeros differently). Reads at most address_text_max + 1 bytes.
bool is_ipv4_address(const char* text);
// A netmask text: three or four dot-separated decimal parts of 1 to 3
// digits, each 0 to 255 (three parts stand for the first three octets),
// whose bits are ones (at least one), then zeros. Reads at most address_text_max + 1 bytes.
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
