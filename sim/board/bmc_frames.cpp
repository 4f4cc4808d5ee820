// Decoding and building of BMC link frames; see bmc_frames.h.
#include "bmc_frames.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "BMC_data_protocol.h"

namespace vboard {
namespace {

constexpr size_t ping_length = BMC::packet_ping_header_length;
constexpr size_t header_length = BMC::packet_header_length;

struct Name {
    unsigned value;
    const char* name;
};

#define NAMED(scope, e)                                                                                                \
    {                                                                                                                  \
        static_cast<unsigned>(scope::e), #e                                                                            \
    }
#define PLAIN(e)                                                                                                       \
    {                                                                                                                  \
        static_cast<unsigned>(BMC::e), #e                                                                              \
    }

const Name packet_types[] = {
    NAMED(BMC::PACKET_TYPE, ERROR),          NAMED(BMC::PACKET_TYPE, PING),
    NAMED(BMC::PACKET_TYPE, PING_RESPONSE),  NAMED(BMC::PACKET_TYPE, READ),
    NAMED(BMC::PACKET_TYPE, READ_RESPONSE),  NAMED(BMC::PACKET_TYPE, WRITE),
    NAMED(BMC::PACKET_TYPE, WRITE_RESPONSE),
};

const Name data_types[] = {
    NAMED(BMC::DATA_TYPE, UINT8),  NAMED(BMC::DATA_TYPE, INT8),   NAMED(BMC::DATA_TYPE, UINT16),
    NAMED(BMC::DATA_TYPE, INT16),  NAMED(BMC::DATA_TYPE, UINT32), NAMED(BMC::DATA_TYPE, INT32),
    NAMED(BMC::DATA_TYPE, UINT64), NAMED(BMC::DATA_TYPE, INT64),  NAMED(BMC::DATA_TYPE, FLOAT),
    NAMED(BMC::DATA_TYPE, DOUBLE), NAMED(BMC::DATA_TYPE, STRING),
};

const Name addresses[] = {
    NAMED(BMC::ADDRESS, DESCRIPTION), NAMED(BMC::ADDRESS, HOTSWAP), NAMED(BMC::ADDRESS, POWER),
    NAMED(BMC::ADDRESS, PSU),         NAMED(BMC::ADDRESS, FAN),     NAMED(BMC::ADDRESS, STATUS),
    NAMED(BMC::ADDRESS, BRIDGE1),     NAMED(BMC::ADDRESS, BRIDGE2), NAMED(BMC::ADDRESS, BRIDGE3),
    NAMED(BMC::ADDRESS, BRIDGE4),     NAMED(BMC::ADDRESS, BRIDGE5), NAMED(BMC::ADDRESS, BRIDGE6),
    NAMED(BMC::ADDRESS, BRIDGE7),     NAMED(BMC::ADDRESS, BRIDGE8), NAMED(BMC::ADDRESS, NETWORK),
    NAMED(BMC::ADDRESS, BOOT),
};

const Name description_items[] = {
    PLAIN(SUBADDRESS_DESCRIPTION_PROCUCT_NAME),
    PLAIN(SUBADDRESS_DESCRIPTION_VERSION),
    PLAIN(SUBADDRESS_DESCRIPTION_IP_ADDRESS),
    PLAIN(SUBADDRESS_DESCRIPTION_SERIAL_NUMBER),
    PLAIN(SUBADDRESS_DESCRIPTION_MANAGER_EMAIL_ADDRESS),
    PLAIN(SUBADDRESS_DESCRIPTION_OS),
    PLAIN(SUBADDRESS_DESCRIPTION_INFORMATION),
    PLAIN(SUBADDRESS_DESCRIPTION_LOCATION),
};

const Name status_items[] = {
    PLAIN(SUBADDRESS_STATUS_TEMPERATURE_ONBOARD), PLAIN(SUBADDRESS_STATUS_TEMPERATURE_CPU),
    PLAIN(SUBADDRESS_STATUS_TEMPERATURE_BMC),     PLAIN(SUBADDRESS_STATUS_TEMPERATURE_RACK),
    PLAIN(SUBADDRESS_STATUS_TEMPERATURE_UNIT_F),  PLAIN(SUBADDRESS_STATUS_HUMIDITY_RACK),
    PLAIN(SUBADDRESS_STATUS_LED_ALARM),
};

const Name network_items[] = {
    PLAIN(SUBADDRESS_NETWORK_CONFIG_MODE),    PLAIN(SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS),
    PLAIN(SUBADDRESS_NETWORK_CONFIG_GATEWAY), PLAIN(SUBADDRESS_NETWORK_CONFIG_SUBNETMASK),
    PLAIN(SUBADDRESS_NETWORK_CONFIG_DNS1),    PLAIN(SUBADDRESS_NETWORK_CONFIG_DNS2),
    PLAIN(SUBADDRESS_NETWORK_CONFIG_APPLY),   PLAIN(SUBADDRESS_NETWORK_CONFIG_HOSTNAME),
};

#undef NAMED
#undef PLAIN

template <size_t N>
std::string name_of(const Name (&table)[N], unsigned value, const char* unnamed_prefix)
{
    for (const Name& n : table) {
        if (n.value == value) {
            return n.name;
        }
    }
    return unnamed_prefix + std::to_string(value);
}

std::string subaddress_name(uint8_t address, uint8_t subaddress)
{
    switch (static_cast<BMC::ADDRESS>(address)) {
    case BMC::ADDRESS::DESCRIPTION:
        return name_of(description_items, subaddress, "");
    case BMC::ADDRESS::STATUS:
        return name_of(status_items, subaddress, "");
    case BMC::ADDRESS::NETWORK:
        return name_of(network_items, subaddress, "");
    default:
        return std::to_string(subaddress);
    }
}

std::string escaped_text(const uint8_t* p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (std::isprint(p[i]) && p[i] != '\\' && p[i] != '"') {
            s += static_cast<char>(p[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", p[i]);
            s += hex;
        }
    }
    return s;
}

template <typename T>
std::string numbers(const uint8_t* p, size_t n, const char* format)
{
    std::string s;
    for (size_t i = 0; i + sizeof(T) <= n; i += sizeof(T)) {
        T v;
        std::memcpy(&v, p + i, sizeof v);  // native byte order, as the node sends it
        char text[64];
        if constexpr (std::is_floating_point_v<T>) {
            std::snprintf(text, sizeof text, format, static_cast<double>(v));
        } else if constexpr (std::is_signed_v<T>) {
            std::snprintf(text, sizeof text, format, static_cast<long long>(v));
        } else {
            std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(v));
        }
        s += s.empty() ? "" : " ";
        s += text;
    }
    return s;
}

// Item size of a data type; 0 for the values 11..15, which have none.
size_t item_size(uint8_t data_type)
{
    switch (static_cast<BMC::DATA_TYPE>(data_type)) {
    case BMC::DATA_TYPE::UINT8:
    case BMC::DATA_TYPE::INT8:
    case BMC::DATA_TYPE::STRING:
        return 1;
    case BMC::DATA_TYPE::UINT16:
    case BMC::DATA_TYPE::INT16:
        return 2;
    case BMC::DATA_TYPE::UINT32:
    case BMC::DATA_TYPE::INT32:
    case BMC::DATA_TYPE::FLOAT:
        return 4;
    case BMC::DATA_TYPE::UINT64:
    case BMC::DATA_TYPE::INT64:
    case BMC::DATA_TYPE::DOUBLE:
        return 8;
    }
    return 0;
}

// Renders the data by type; sets *problem when they do not fit the type.
std::string render_data(uint8_t data_type, const uint8_t* p, size_t n, std::string* problem)
{
    if (n == 0) {
        return "";
    }
    const size_t item = item_size(data_type);
    if (item == 0 || n % item != 0) {
        if (item != 0) {
            *problem = "data not whole items";
        }
        return hex_bytes(Bytes(p, p + n));
    }
    switch (static_cast<BMC::DATA_TYPE>(data_type)) {
    case BMC::DATA_TYPE::STRING: {
        const void* nul = std::memchr(p, '\0', n);
        if (nul == nullptr) {
            *problem = "string without NUL";
            return escaped_text(p, n);
        }
        const size_t len = static_cast<const uint8_t*>(nul) - p;
        if (len + 1 != n) {
            *problem = "bytes after the string's NUL";
        }
        return escaped_text(p, len);
    }
    case BMC::DATA_TYPE::UINT8:
        return numbers<uint8_t>(p, n, "%llu");
    case BMC::DATA_TYPE::INT8:
        return numbers<int8_t>(p, n, "%lld");
    case BMC::DATA_TYPE::UINT16:
        return numbers<uint16_t>(p, n, "%llu");
    case BMC::DATA_TYPE::INT16:
        return numbers<int16_t>(p, n, "%lld");
    case BMC::DATA_TYPE::UINT32:
        return numbers<uint32_t>(p, n, "%llu");
    case BMC::DATA_TYPE::INT32:
        return numbers<int32_t>(p, n, "%lld");
    case BMC::DATA_TYPE::UINT64:
        return numbers<uint64_t>(p, n, "%llu");
    case BMC::DATA_TYPE::INT64:
        return numbers<int64_t>(p, n, "%lld");
    case BMC::DATA_TYPE::FLOAT:
        return numbers<float>(p, n, "%g");
    case BMC::DATA_TYPE::DOUBLE:
        return numbers<double>(p, n, "%g");
    }
    return hex_bytes(Bytes(p, p + n));
}

Bytes network_string_frame(uint8_t item, const std::string& text)
{
    Bytes data(text.begin(), text.end());
    data.push_back(0);
    return build_frame(static_cast<uint8_t>(BMC::NODE_ID::BMC), false, static_cast<uint8_t>(BMC::PACKET_TYPE::WRITE),
                       false, static_cast<uint8_t>(BMC::DATA_TYPE::STRING), static_cast<uint8_t>(BMC::ADDRESS::NETWORK),
                       item, data);
}

}  // namespace

std::string DecodedFrame::line() const
{
    std::string s = "len=" + std::to_string(length) + " node=" + std::to_string(node) +
                    " bcast=" + (broadcast ? "1" : "0") + " type=" + packet_type +
                    " resp=" + (response_require ? "1" : "0") + " dtype=" + data_type;
    if (!address.empty()) {
        s += " addr=" + address + " sub=" + subaddress + " data=\"" + data + "\"";
    }
    if (!problem.empty()) {
        s += " problem=\"" + problem + "\"";
    }
    return s;
}

DecodedFrame decode_frame(const Bytes& frame)
{
    DecodedFrame d;
    d.size = frame.size();
    if (frame.size() < ping_length) {
        d.problem = "frame of " + std::to_string(frame.size()) + " bytes";
        d.length = frame.empty() ? 0 : frame[0];
        return d;
    }
    d.length = frame[0];
    d.node = frame[1] & BMC::PACKET_NODE_ID_MASK;
    d.broadcast = (frame[1] & BMC::PACKET_BROADCAST_FLAG) != 0;
    d.response_require = (frame[2] & BMC::PACKET_RESPONSE_REQUIRE_FLAG) != 0;
    const unsigned type = frame[2] & BMC::PACKET_TYPE_MASK;
    const uint8_t data_type = (frame[2] & BMC::PACKET_DATA_TYPE_MASK) >> 3;
    d.packet_type = name_of(packet_types, type, "TYPE");
    d.data_type = name_of(data_types, data_type, "DTYPE");

    if (d.length != frame.size()) {
        d.problem = "length byte " + std::to_string(d.length) + " in a frame of " + std::to_string(frame.size());
    }
    const size_t used = std::min<size_t>(d.length, frame.size());
    if (used < header_length) {
        if (used != ping_length && d.problem.empty()) {
            d.problem = "header of " + std::to_string(used) + " bytes";
        }
        return d;
    }
    d.address = name_of(addresses, frame[3], "");
    d.subaddress = subaddress_name(frame[3], frame[4]);
    std::string data_problem;
    d.data = render_data(data_type, frame.data() + header_length, used - header_length, &data_problem);
    if (d.problem.empty()) {
        d.problem = data_problem;
    }
    return d;
}

Bytes build_frame(uint8_t node, bool broadcast, uint8_t packet_type, bool response_require, uint8_t data_type,
                  uint8_t address, uint8_t subaddress, const Bytes& data)
{
    if (data.size() > BMC::max_packet_data_length) {
        throw std::invalid_argument("frame data of " + std::to_string(data.size()) + " bytes");
    }
    const uint8_t control1 = (node & BMC::PACKET_NODE_ID_MASK) | (broadcast ? BMC::PACKET_BROADCAST_FLAG : 0);
    const uint8_t control2 = (response_require ? BMC::PACKET_RESPONSE_REQUIRE_FLAG : 0) |
                             ((data_type << 3) & BMC::PACKET_DATA_TYPE_MASK) | (packet_type & BMC::PACKET_TYPE_MASK);
    const auto type = static_cast<BMC::PACKET_TYPE>(packet_type & BMC::PACKET_TYPE_MASK);
    if (type == BMC::PACKET_TYPE::PING || type == BMC::PACKET_TYPE::PING_RESPONSE) {
        return Bytes{static_cast<uint8_t>(ping_length), control1, control2};
    }
    Bytes frame{static_cast<uint8_t>(header_length + data.size()), control1, control2, address, subaddress};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

Bytes network_mode_frame(uint8_t mode)
{
    return build_frame(static_cast<uint8_t>(BMC::NODE_ID::BMC), false, static_cast<uint8_t>(BMC::PACKET_TYPE::WRITE),
                       false, static_cast<uint8_t>(BMC::DATA_TYPE::UINT8), static_cast<uint8_t>(BMC::ADDRESS::NETWORK),
                       BMC::SUBADDRESS_NETWORK_CONFIG_MODE, Bytes{mode});
}

Bytes network_apply_frame()
{
    return build_frame(static_cast<uint8_t>(BMC::NODE_ID::BMC), false, static_cast<uint8_t>(BMC::PACKET_TYPE::WRITE),
                       false, static_cast<uint8_t>(BMC::DATA_TYPE::UINT8), static_cast<uint8_t>(BMC::ADDRESS::NETWORK),
                       BMC::SUBADDRESS_NETWORK_CONFIG_APPLY, Bytes{});
}

Bytes network_ip_frame(const std::string& a)
{
    return network_string_frame(BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS, a);
}
Bytes network_gateway_frame(const std::string& a)
{
    return network_string_frame(BMC::SUBADDRESS_NETWORK_CONFIG_GATEWAY, a);
}
Bytes network_netmask_frame(const std::string& m)
{
    return network_string_frame(BMC::SUBADDRESS_NETWORK_CONFIG_SUBNETMASK, m);
}
Bytes network_dns1_frame(const std::string& a) { return network_string_frame(BMC::SUBADDRESS_NETWORK_CONFIG_DNS1, a); }
Bytes network_dns2_frame(const std::string& a) { return network_string_frame(BMC::SUBADDRESS_NETWORK_CONFIG_DNS2, a); }
Bytes network_hostname_frame(const std::string& h)
{
    return network_string_frame(BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME, h);
}

bool parse_hex_bytes(const std::string& text, Bytes* out)
{
    out->clear();
    Bytes bytes;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == ',') {
            ++i;
            continue;
        }
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            i += 2;
        }
        size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && digits < 2 && std::isxdigit(static_cast<unsigned char>(text[i]))) {
            const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            value = value * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
            ++digits;
            ++i;
        }
        if (digits == 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    *out = std::move(bytes);
    return true;
}

std::string hex_bytes(const Bytes& bytes)
{
    std::string s;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", b);
        s += s.empty() ? "" : " ";
        s += hex;
    }
    return s;
}

}  // namespace vboard
