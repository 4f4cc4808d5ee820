// Packet record and codec (see BMC_data_protocol.h for results and ownership).
#include "BMC_data_protocol.h"

#include <cstring>

#include "packet_image.h"

namespace BMC {

namespace {

const uint8_t data_type_shift = 3;

// Releases the data array; packet_length is left alone.
void deinit_Packet_Data(Packet* packet)
{
    if (packet->data != nullptr) {
        delete[] packet->data;
        packet->data = nullptr;
    }
}

bool is_ping_type(const Packet& packet)
{
    PACKET_TYPE type = get_Packet_Type(packet);
    return type == PACKET_TYPE::PING || type == PACKET_TYPE::PING_RESPONSE;
}

// Stores byte_count bytes (1..250) as the packet's data of the given type.
void set_data_bytes(Packet* packet, DATA_TYPE type, const void* bytes, unsigned int byte_count)
{
    packet->data = new uint8_t[byte_count];
    std::memcpy(packet->data, bytes, byte_count);
    packet->packet_length = static_cast<uint8_t>(byte_count + packet_header_length);
    packet->packet_control2 = static_cast<uint8_t>((packet->packet_control2 & ~PACKET_DATA_TYPE_MASK) |
                                                   (static_cast<uint8_t>(type) << data_type_shift));
}

// All fields zero, data null: the caller has released any data first.
void set_empty(Packet* packet)
{
    packet->packet_length = 0;
    packet->packet_control1 = 0;
    packet->packet_control2 = 0;
    packet->address = ADDRESS::DESCRIPTION;
    packet->subaddress = 0;
    packet->data = nullptr;
}

void set_taken(Packet* packet, Packet* other)
{
    packet->packet_length = other->packet_length;
    packet->packet_control1 = other->packet_control1;
    packet->packet_control2 = other->packet_control2;
    packet->address = other->address;
    packet->subaddress = other->subaddress;
    packet->data = other->data;
    set_empty(other);
}

}  // namespace

Packet::Packet() { set_empty(this); }

Packet::~Packet() { deinit_Packet_Data(this); }

Packet::Packet(Packet&& other) noexcept { set_taken(this, &other); }

Packet& Packet::operator=(Packet&& other) noexcept
{
    if (this != &other) {
        deinit_Packet_Data(this);
        set_taken(this, &other);
    }
    return *this;
}

uint8_t init_Packet(Packet* packet, NODE_ID node_id, bool broadcast, PACKET_TYPE type, bool response_require,
                    ADDRESS address, uint8_t subaddress, DATA_TYPE data_type, const void* data, uint8_t data_count)
{
    if (packet == nullptr)
        return 1;
    set_Packet_Node_ID_Broadcast(packet, node_id, broadcast);
    set_Packet_Type(packet, type, response_require);
    set_Packet_Address(packet, address);
    set_Packet_Subaddress(packet, subaddress);
    set_Packet_Data(packet, data_type, data, data_count);
    return 0;
}

uint8_t init_Packet(Packet* packet, uint8_t packet_length)
{
    if (packet == nullptr)
        return 1;
    deinit_Packet_Data(packet);
    set_empty(packet);
    packet->packet_length = packet_length;
    if (packet_length > packet_header_length) {
        packet->data = new uint8_t[packet_length - packet_header_length];
    }
    return 0;
}

void init_Packet(Packet* packet, const Packet& source_packet)
{
    if (packet == nullptr || packet == &source_packet)
        return;
    uint8_t header_length = get_Packet_Header_Length(source_packet);
    uint8_t data_length = get_Packet_Data_Length(source_packet);
    // A record whose data store was refused keeps a length above 5 without a
    // data array: the copy takes the same header and, like its source, no
    // array (an unfilled one would carry stray heap bytes to a transport).
    bool has_data = data_length > 0 && source_packet.data != nullptr;
    init_Packet(packet, has_data ? source_packet.packet_length : header_length);
    uint8_t header[packet_header_length];
    encode_packet_header(source_packet, header);
    decode_packet_header(header, header_length, packet);
    if (has_data) {
        std::memcpy(packet->data, source_packet.data, data_length);
    }
}

uint8_t init_Packet_Data(Packet* packet, uint8_t data_length)
{
    if (packet == nullptr)
        return 1;
    deinit_Packet_Data(packet);
    if (data_length == 0 || data_length > max_packet_data_length)
        return 2;
    packet->data = new uint8_t[data_length];
    packet->packet_length = static_cast<uint8_t>(data_length + packet_header_length);
    return 0;
}

void set_Packet_Node_ID_Broadcast(Packet* packet, NODE_ID node_id, bool broadcast)
{
    packet->packet_control1 = static_cast<uint8_t>(node_id);
    if (broadcast)
        packet->packet_control1 |= PACKET_BROADCAST_FLAG;
}

void set_Packet_Address(Packet* packet, ADDRESS address) { packet->address = address; }

void set_Packet_Subaddress(Packet* packet, uint8_t subaddress) { packet->subaddress = subaddress; }

void set_Packet_Type(Packet* packet, PACKET_TYPE type, bool response_require)
{
    uint8_t control2 =
        static_cast<uint8_t>((packet->packet_control2 & PACKET_DATA_TYPE_MASK) | static_cast<uint8_t>(type));
    if (response_require)
        control2 |= PACKET_RESPONSE_REQUIRE_FLAG;
    packet->packet_control2 = control2;
    set_Packet_Data_Clear(packet);
}

uint8_t set_Packet_Data(Packet* packet, DATA_TYPE type, const void* data, uint8_t data_count)
{
    if (is_ping_type(*packet))
        return 1;
    unsigned int byte_count = static_cast<unsigned int>(get_Data_Type_Size(type)) * data_count;
    deinit_Packet_Data(packet);
    if (byte_count == 0 || byte_count > max_packet_data_length)
        return 2;
    set_data_bytes(packet, type, data, byte_count);
    return 0;
}

uint8_t set_Packet_String(Packet* packet, const char* str)
{
    if (is_ping_type(*packet))
        return 1;
    size_t length = std::strlen(str);
    deinit_Packet_Data(packet);
    if (length >= max_packet_data_length)
        return 2;
    set_data_bytes(packet, DATA_TYPE::STRING, str, static_cast<unsigned int>(length + 1));
    return 0;
}

void set_Packet_Data_Clear(Packet* packet)
{
    packet->packet_length = is_ping_type(*packet) ? packet_ping_header_length : packet_header_length;
    deinit_Packet_Data(packet);
}

uint8_t get_Packet_Header_Length(const Packet& packet)
{
    return packet.packet_length <= packet_header_length ? packet.packet_length : packet_header_length;
}

uint8_t get_Packet_Data_Length(const Packet& packet)
{
    return packet.packet_length > packet_header_length
               ? static_cast<uint8_t>(packet.packet_length - packet_header_length)
               : 0;
}

uint8_t get_Packet_Data_Count(const Packet& packet)
{
    uint8_t data_length = get_Packet_Data_Length(packet);
    uint8_t item_size = get_Data_Type_Size(get_Packet_Data_Type(packet));
    // A data-type field of 11..15 has no item size: nothing countable.
    if (data_length == 0 || item_size == 0)
        return 0;
    if (data_length % item_size != 0)
        return 0;
    return static_cast<uint8_t>(data_length / item_size);
}

NODE_ID get_Packet_Node_ID(const Packet& packet)
{
    return static_cast<NODE_ID>(packet.packet_control1 & PACKET_NODE_ID_MASK);
}

bool get_Packet_Broadcast(const Packet& packet) { return (packet.packet_control1 & PACKET_BROADCAST_FLAG) != 0; }

ADDRESS get_Packet_Address(const Packet& packet) { return packet.address; }

uint8_t get_Packet_Subaddress(const Packet& packet) { return packet.subaddress; }

PACKET_TYPE get_Packet_Type(const Packet& packet)
{
    return static_cast<PACKET_TYPE>(packet.packet_control2 & PACKET_TYPE_MASK);
}

DATA_TYPE get_Packet_Data_Type(const Packet& packet)
{
    return static_cast<DATA_TYPE>((packet.packet_control2 & PACKET_DATA_TYPE_MASK) >> data_type_shift);
}

bool get_Packet_Response_Require_Flag(const Packet& packet)
{
    return (packet.packet_control2 & PACKET_RESPONSE_REQUIRE_FLAG) != 0;
}

uint8_t get_Data_Type_Size(DATA_TYPE type)
{
    switch (type) {
    case DATA_TYPE::UINT8:
    case DATA_TYPE::INT8:
    case DATA_TYPE::STRING:
        return 1;
    case DATA_TYPE::UINT16:
    case DATA_TYPE::INT16:
        return 2;
    case DATA_TYPE::UINT32:
    case DATA_TYPE::INT32:
    case DATA_TYPE::FLOAT:
        return 4;
    case DATA_TYPE::UINT64:
    case DATA_TYPE::INT64:
    case DATA_TYPE::DOUBLE:
        return 8;
    }
    return 0;
}

}  // namespace BMC
