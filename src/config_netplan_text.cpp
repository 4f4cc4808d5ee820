// Pure text work of the netplan file's values and the checks of the BMC's
// texts (see config_netplan_text.h). The line edits of the whole file are in
// config_netplan_lines.cpp.
#include "config_netplan_text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace netplan_text {
namespace {

constexpr unsigned max_prefix_length = 32;
constexpr int mask_parts = 4;

// Leading decimal number of a text, blanks and '+' allowed in front as the
// C library reads it; a negative number or none reads 0, a big one saturates.
unsigned leading_number(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            return 0;
        }
        ++i;
    }
    unsigned n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n > 100000 ? n : n * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return n;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// An entry holding the placeholder anywhere ("x.x.x.x", or a hand edit such
// as "x.x.x.x5") is not set: it is never carried into an active line.
bool is_set_value(std::string_view value)
{
    return !value.empty() && value.find(unset_value) == std::string_view::npos;
}

// A prefix length netplan takes for an IPv4 address: 1 to 32 in decimal. A
// hand edit's broken prefix ("24x", "/x.x.x.x", "0") would make netplan
// reject the whole file, so it is not carried into a line the daemon writes.
bool is_prefix_length(std::string_view prefix)
{
    if (prefix.empty() || prefix.size() > 2 || prefix.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const unsigned n = leading_number(prefix);
    return n >= 1 && n <= max_prefix_length;
}

// The entries of a bracketed list: behind its first '[' (or from the start
// without one) up to the next ']' (or the end).
std::string_view list_entries(std::string_view value)
{
    const std::size_t open = value.find('[');
    if (open != std::string_view::npos) {
        value.remove_prefix(open + 1);
    }
    return value.substr(0, value.find(']'));
}

}  // namespace

uint8_t get_Bit_Count(uint32_t data)
{
    uint8_t count = 0;
    while (data & 0x80u) {
        ++count;
        data <<= 1;
    }
    return count;
}

uint8_t get_Subnetmask_Bit_Count(const char* str)
{
    std::string_view rest(str);
    unsigned total = 0;
    for (int part = 0; part < mask_parts; ++part) {
        const std::size_t dot = rest.find('.');
        total += get_Bit_Count(leading_number(rest.substr(0, dot)) & 0xFFu);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    }
    return static_cast<uint8_t>(total);
}

std::string mask_of_prefix(std::string_view prefix)
{
    const unsigned n = std::min(leading_number(prefix), max_prefix_length);
    const uint32_t mask = n == 0 ? 0 : 0xFFFFFFFFu << (max_prefix_length - n);
    char text[address_text_max + 1];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", mask >> 24, (mask >> 16) & 0xFFu, (mask >> 8) & 0xFFu,
                  mask & 0xFFu);
    return text;
}

Interface_Address parse_interface_address(std::string_view value)
{
    while (!value.empty() && value.front() == '[') {
        value.remove_prefix(1);
    }
    const std::string_view entry = value.substr(0, value.find_first_of(",]"));
    const std::size_t slash = entry.find('/');
    Interface_Address list;
    list.address = std::string(trimmed(entry.substr(0, slash)));
    if (slash != std::string_view::npos) {
        list.prefix = std::string(trimmed(entry.substr(slash + 1)));
    }
    return list;
}

bool is_set(const Interface_Address& list) { return is_set_value(list.address); }

std::string interface_address_text(const Interface_Address& list)
{
    return "[" + (list.address.empty() ? std::string(unset_value) : list.address) + "/" +
           (is_prefix_length(list.prefix) ? list.prefix : std::string(default_prefix)) + "]";
}

Name_Servers parse_name_servers(std::string_view value)
{
    // "[D2] #[x.x.x.x,D2]": the comment holds the whole list.
    const std::size_t close = value.find(']');
    const std::size_t kept = close == std::string_view::npos ? close : value.find("#[", close);
    const std::string_view entries = list_entries(kept == std::string_view::npos ? value : value.substr(kept + 1));
    const std::size_t comma = entries.find(',');
    Name_Servers list;
    list.first = std::string(trimmed(entries.substr(0, comma)));
    list.second = comma == std::string_view::npos ? std::string() : std::string(trimmed(entries.substr(comma + 1)));
    for (std::string* entry : {&list.first, &list.second}) {
        if (entry->empty()) {
            *entry = unset_value;
        }
    }
    return list;
}

bool is_set(const Name_Servers& list) { return is_set_value(list.first) || is_set_value(list.second); }

std::string name_servers_text(const Name_Servers& list)
{
    const bool first = is_set_value(list.first);
    const bool second = is_set_value(list.second);
    if (first && second) {
        return "[" + list.first + "," + list.second + "]";
    }
    if (first) {
        return "[" + list.first + "]";
    }
    if (second) {
        return "[" + list.second + "] #[" + unset_value + "," + list.second + "]";
    }
    return "[" + std::string(unset_value) + "," + unset_value + "]";
}

bool is_gateway_set(std::string_view value) { return is_set_value(value.substr(0, value.find_first_of(" \t#\r"))); }

bool is_ipv4_address(const char* text)
{
    const std::size_t len = strnlen(text, address_text_max + 1);
    struct in_addr address;
    return len <= address_text_max && inet_pton(AF_INET, text, &address) == 1;
}

bool is_mask_text(const char* text)
{
    const std::size_t len = strnlen(text, address_text_max + 1);
    if (len > address_text_max) {
        return false;
    }
    int parts = 0;
    uint32_t mask = 0;
    std::string_view rest(text, len);
    for (;;) {
        const std::size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos ||
            leading_number(part) > 255 || parts == mask_parts) {
            return false;
        }
        mask |= leading_number(part) << (8 * (mask_parts - 1 - parts));
        ++parts;
        if (dot == std::string_view::npos) {
            // Ones, then zeros: the zeros below the last one are then a run
            // of ones when inverted, and adding one clears them all.
            const uint32_t zeros = ~mask;
            // No ones at all would be prefix /0, which netplan refuses.
            return (parts == 3 || parts == mask_parts) && mask != 0 && (zeros & (zeros + 1)) == 0;
        }
        rest.remove_prefix(dot + 1);
    }
}

bool is_setting_value(NETWORK_CONFIG_TYPE type, const char* text)
{
    return type == NETWORK_CONFIG_TYPE::SUBNETMASK ? is_mask_text(text) : is_ipv4_address(text);
}

const char* setting_value_rule(NETWORK_CONFIG_TYPE type)
{
    return type == NETWORK_CONFIG_TYPE::SUBNETMASK
               ? "a netmask of three or four dot-separated decimal parts 0 to 255 whose bits are ones (at least "
                 "one), then zeros"
               : "a dotted-quad IPv4 address (four decimal parts 0 to 255, no leading zeros)";
}

bool is_hostname(const char* text)
{
    const std::size_t len = strnlen(text, hostname_max + 1);
    if (len == 0 || len > hostname_max) {
        return false;
    }
    std::size_t label_start = 0;
    for (std::size_t i = 0; i <= len; ++i) {
        const char c = i < len ? text[i] : '.';
        if (c == '.') {
            const std::size_t label_len = i - label_start;
            if (label_len == 0 || label_len > hostname_label_max || text[label_start] == '-' || text[i - 1] == '-') {
                return false;
            }
            label_start = i + 1;
            continue;
        }
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace netplan_text
