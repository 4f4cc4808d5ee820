#include "packet_text.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace packet_text {

namespace {

const char* const type_names[] = {"ERROR", "PING", "PING_RESPONSE", "READ", "READ_RESPONSE", "WRITE", "WRITE_RESPONSE"};
const unsigned int type_count = sizeof type_names / sizeof type_names[0];

const char* const address_names[] = {"DESCRIPTION", "HOTSWAP", "POWER",   "PSU",     "FAN",     "STATUS",
                                     "BRIDGE1",     "BRIDGE2", "BRIDGE3", "BRIDGE4", "BRIDGE5", "BRIDGE6",
                                     "BRIDGE7",     "BRIDGE8", "NETWORK", "BOOT"};
const unsigned int address_count = sizeof address_names / sizeof address_names[0];

// Index of word in names (case-insensitive), or its number when it is one
// below count.
bool get_named(const std::string& word, const char* const* names, unsigned int count, unsigned int* index)
{
    for (unsigned int i = 0; i < count; i++) {
        if (strcasecmp(word.c_str(), names[i]) == 0) {
            *index = i;
            return true;
        }
    }
    return get_number(word, count - 1, index);
}

int get_hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

bool get_number(const std::string& word, unsigned int max, unsigned int* value)
{
    if (word.empty() || !isdigit(static_cast<unsigned char>(word[0])))
        return false;
    bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    char* end = nullptr;
    unsigned long number = strtoul(word.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || number > max)
        return false;
    *value = static_cast<unsigned int>(number);
    return true;
}

bool get_type(const std::string& word, BMC::PACKET_TYPE* type)
{
    unsigned int index = 0;
    if (!get_named(word, type_names, type_count, &index))
        return false;
    *type = static_cast<BMC::PACKET_TYPE>(index);
    return true;
}

bool get_address(const std::string& word, BMC::ADDRESS* address)
{
    unsigned int index = 0;
    if (!get_named(word, address_names, address_count, &index))
        return false;
    *address = static_cast<BMC::ADDRESS>(index);
    return true;
}

bool get_hex_bytes(const std::string& word, std::vector<uint8_t>* bytes)
{
    std::vector<uint8_t> result;
    int high = -1;
    for (char c : word) {
        if (c == ' ' || c == ':' || c == ',') {
            if (high >= 0)
                return false;  // a digit pair split by a separator
            continue;
        }
        int digit = get_hex_digit(c);
        if (digit < 0)
            return false;
        if (high < 0) {
            high = digit;
        } else {
            result.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0 || result.size() > BMC::max_packet_data_length)
        return false;
    *bytes = result;
    return true;
}

bool set_request_packet(const Request_Fields& fields, BMC::Packet* packet, std::string* error)
{
    bool ping = fields.type == BMC::PACKET_TYPE::PING || fields.type == BMC::PACKET_TYPE::PING_RESPONSE;
    const void* data = nullptr;
    size_t count = 0;
    BMC::DATA_TYPE data_type = BMC::DATA_TYPE::UINT8;
    if (!ping && fields.has_text) {
        data = fields.text.c_str();
        count = fields.text.size() + 1;
        data_type = BMC::DATA_TYPE::STRING;
    } else if (!ping) {
        data = fields.bytes.data();
        count = fields.bytes.size();
    }
    if (count > BMC::max_packet_data_length) {
        *error = "data longer than 250 bytes (text: 249 characters)";
        return false;
    }
    BMC::init_Packet(packet, static_cast<BMC::NODE_ID>(fields.node & BMC::PACKET_NODE_ID_MASK), false, fields.type,
                     fields.response_require, fields.address, fields.subaddress, data_type, data,
                     static_cast<uint8_t>(count));
    return true;
}

const char* get_type_name(BMC::PACKET_TYPE type)
{
    unsigned int index = static_cast<unsigned int>(type);
    return index < type_count ? type_names[index] : "UNDEFINED";
}

const char* get_address_name(BMC::ADDRESS address)
{
    unsigned int index = static_cast<unsigned int>(address);
    return index < address_count ? address_names[index] : "UNDEFINED";
}

std::string get_packet_line(const BMC::Packet& packet)
{
    char head[160];
    snprintf(head, sizeof head, "type=%s node=%u", get_type_name(BMC::get_Packet_Type(packet)),
             static_cast<unsigned int>(BMC::get_Packet_Node_ID(packet)));
    std::string line = head;
    // A 3-byte PING header carries no address or subaddress.
    if (BMC::get_Packet_Header_Length(packet) == BMC::packet_header_length) {
        snprintf(head, sizeof head, " address=%s subaddress=%u", get_address_name(BMC::get_Packet_Address(packet)),
                 BMC::get_Packet_Subaddress(packet));
        line += head;
    }
    if (BMC::get_Packet_Broadcast(packet))
        line += " broadcast=yes";

    uint8_t length = BMC::get_Packet_Data_Length(packet);
    if (length == 0 || packet.data == nullptr)
        return line;
    if (BMC::get_Packet_Data_Type(packet) == BMC::DATA_TYPE::STRING) {
        // The text up to its NUL (or the end of the data when it has none).
        std::string text;
        for (uint8_t i = 0; i < length && packet.data[i] != 0; i++)
            text += static_cast<char>(packet.data[i]);
        return line + " data=\"" + text + "\"";
    }
    line += " hex=";
    for (uint8_t i = 0; i < length; i++) {
        char byte[4];
        snprintf(byte, sizeof byte, i ? " %02x" : "%02x", packet.data[i]);
        line += byte;
    }
    return line;
}

}  // namespace packet_text
