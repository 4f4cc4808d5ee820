// Pure text work of the netplan file (see config_netplan_text.h).
#include "config_netplan_text.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "config_edit.h"

namespace netplan_text {
namespace {

constexpr unsigned max_prefix_length = 32;
constexpr int mask_parts = 4;

// Text between the first `from` (or the start when from is 0) and the next
// `to` (or the end).
std::string_view between(std::string_view value, char from, char to)
{
    if (from != '\0') {
        const std::size_t at = value.find(from);
        value = at == std::string_view::npos ? std::string_view() : value.substr(at + 1);
    }
    return value.substr(0, value.find(to));
}

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

// Keys and exclusion texts of the lines the settings address; every key is
// followed by the separator ':'.
constexpr char netplan_token = ':';
constexpr const char* mode_key = "dhcp4";
constexpr const char* addresses_key = "addresses";
constexpr const char* gateway_key = "gateway4";
constexpr const char* nameservers_key = "nameservers";
constexpr const char* not_dns_list = ",";      // keeps the name server list out of address edits
constexpr const char* not_address_list = "/";  // keeps the interface address out of DNS edits

// A value as a caller's buffer holds it: cut to caller_buffer_size - 1
// bytes and at its first NUL.
std::string held_value(std::string_view value)
{
    const std::string_view kept = value.substr(0, caller_buffer_size - 1);
    return std::string(kept.substr(0, kept.find('\0')));
}

std::string commented(std::string_view text, const char* key, bool comment, const char* ignore_str = nullptr)
{
    return config_edit::comment_entries(text, key, comment, netplan_token, ignore_str);
}

std::string with_entry(std::string_view text, const char* key, const char* value, const char* ignore_str = nullptr)
{
    std::string out;
    config_edit::replace_entries(text, key, value, netplan_token, ignore_str, out);
    return out;
}

// Comments the static lines out (DHCP) or brings them back (static).
std::string with_static_lines_commented(std::string text, bool comment)
{
    text = commented(text, addresses_key, comment, not_dns_list);
    text = commented(text, gateway_key, comment);
    text = commented(text, addresses_key, comment, not_address_list);
    return commented(text, nameservers_key, comment);
}

// A composed value that fits its buffer and stays on its line: an old value
// holding a line end (a key with nothing behind it reads as "\n" or "\r")
// would otherwise carry it into the middle of the entry.
std::optional<std::string> fitting(std::string s)
{
    if (s.size() >= compose_size || s.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    return s;
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

std::string address_of(std::string_view value)
{
    while (!value.empty() && value.front() == '[') {
        value.remove_prefix(1);
    }
    return std::string(value.substr(0, value.find('/')));
}

std::string mask_of(std::string_view value)
{
    unsigned n = value.find('/') == std::string_view::npos ? 0 : leading_number(between(value, '/', ']'));
    if (n > max_prefix_length) {
        n = max_prefix_length;
    }
    const uint32_t mask = n == 0 ? 0 : 0xFFFFFFFFu << (max_prefix_length - n);
    char text[address_text_max + 1];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", mask >> 24, (mask >> 16) & 0xFFu, (mask >> 8) & 0xFFu,
                  mask & 0xFFu);
    return text;
}

std::string dns1_of(std::string_view value)
{
    if (value.find('[') != std::string_view::npos) {
        return std::string(between(value, '[', ','));
    }
    return std::string(value.substr(0, value.find(',')));
}

std::string dns2_of(std::string_view value) { return std::string(between(value, ',', ']')); }

std::optional<std::string> with_address(std::string_view value, const char* address)
{
    const std::string_view prefix =
        value.find('/') == std::string_view::npos ? std::string_view() : between(value, '/', ']');
    return fitting("[" + std::string(address) + "/" + std::string(prefix) + "]");
}

std::optional<std::string> with_prefix(std::string_view value, unsigned bits)
{
    const std::size_t slash = value.find('/');
    std::string head;
    if (slash != std::string_view::npos) {
        head = std::string(value.substr(0, slash + 1));
    } else {
        head = std::string(value.substr(0, value.find(']'))) + "/";
    }
    return fitting(head + std::to_string(bits) + "]");
}

std::optional<std::string> with_dns1(std::string_view value, const char* dns1)
{
    const std::size_t comma = value.find(',');
    const std::string_view tail = comma == std::string_view::npos ? std::string_view("]") : value.substr(comma);
    return fitting("[" + std::string(dns1) + std::string(tail));
}

std::optional<std::string> with_dns2(std::string_view value, const char* dns2)
{
    const std::size_t comma = value.find(',');
    std::string head;
    if (comma != std::string_view::npos) {
        head = std::string(value.substr(0, comma + 1));
    } else {
        head = std::string(value.substr(0, value.find(']')));
        if (head.empty() || head.front() != '[') {
            head.insert(0, "[");
        }
        head += ",";
    }
    return fitting(head + dns2 + "]");
}

namespace {

// The value of the first line holding `key` and not excluded by
// `ignore_str` (commented-out lines too when any_line), as a caller's
// buffer holds it; "" when there is none.
std::string line_value(std::string_view text, const char* key, const char* ignore_str, bool any_line)
{
    const auto value = config_edit::find_value(text, key, netplan_token, ignore_str, any_line);
    return value ? held_value(*value) : std::string();
}

// Splices into an active "addresses" value of the text. A value that fills
// a whole caller's buffer may have been cut: such a line is left alone
// rather than written back short.
template <typename Splice>
std::string with_addresses(std::string text, const char* ignore_str, Splice splice)
{
    const std::string old_value = line_value(text, addresses_key, ignore_str, false);
    if (old_value.size() >= caller_buffer_size - 1) {
        return text;
    }
    const std::optional<std::string> value = splice(old_value);
    return value ? with_entry(text, addresses_key, value->c_str(), ignore_str) : text;
}

std::string with_dns_lines_active(std::string text)
{
    return commented(commented(text, addresses_key, false, not_address_list), nameservers_key, false);
}

}  // namespace

std::string with_setting(std::string_view text, NETWORK_CONFIG_TYPE type, const char* value)
{
    switch (type) {
    case NETWORK_CONFIG_TYPE::MODE: {
        const bool dhcp = value[0] == 0;
        return with_static_lines_commented(with_entry(text, mode_key, dhcp ? "yes" : "no"), dhcp);
    }
    case NETWORK_CONFIG_TYPE::IP_ADDRESS:
        return with_addresses(commented(text, addresses_key, false, not_dns_list), not_dns_list,
                              [value](const std::string& v) { return with_address(v, value); });
    case NETWORK_CONFIG_TYPE::GATEWAY:
        return with_entry(commented(text, gateway_key, false), gateway_key, value);
    case NETWORK_CONFIG_TYPE::SUBNETMASK:
        return with_addresses(
            commented(text, addresses_key, false, not_dns_list), not_dns_list,
            [bits = get_Subnetmask_Bit_Count(value)](const std::string& v) { return with_prefix(v, bits); });
    case NETWORK_CONFIG_TYPE::DNS1:
        return with_addresses(with_dns_lines_active(std::string(text)), not_address_list,
                              [value](const std::string& v) { return with_dns1(v, value); });
    case NETWORK_CONFIG_TYPE::DNS2:
        return with_addresses(with_dns_lines_active(std::string(text)), not_address_list,
                              [value](const std::string& v) { return with_dns2(v, value); });
    default:
        return std::string(text);
    }
}

std::string setting_of(std::string_view text, NETWORK_CONFIG_TYPE type)
{
    switch (type) {
    case NETWORK_CONFIG_TYPE::MODE:
        return std::string(1, line_value(text, mode_key, nullptr, true).find("yes") != std::string::npos ? 0 : 1);
    case NETWORK_CONFIG_TYPE::IP_ADDRESS:
        return address_of(line_value(text, addresses_key, not_dns_list, true));
    case NETWORK_CONFIG_TYPE::SUBNETMASK:
        return mask_of(line_value(text, addresses_key, not_dns_list, true));
    case NETWORK_CONFIG_TYPE::GATEWAY:
        return line_value(text, gateway_key, nullptr, true);
    case NETWORK_CONFIG_TYPE::DNS1:
        return dns1_of(line_value(text, addresses_key, not_address_list, true));
    case NETWORK_CONFIG_TYPE::DNS2:
        return dns2_of(line_value(text, addresses_key, not_address_list, true));
    default:
        return std::string();
    }
}

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
    std::string_view rest(text, len);
    for (;;) {
        const std::size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos ||
            leading_number(part) > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 3 || parts == mask_parts;
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
               ? "a netmask of three or four dot-separated decimal parts 0 to 255"
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
