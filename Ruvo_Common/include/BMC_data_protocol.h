// Packet record and codec shared by the node daemon, the BMC link and the
// local socket packet server.
//
// Byte image of a packet with packet_length L, on every transport:
//   offset 0 packet_length (L), 1 packet_control1, 2 packet_control2,
//   3 address, 4 subaddress, 5.. data (L - 5 bytes, only when L > 5).
// PING and PING_RESPONSE travel as the 3 bytes L = 3, control1, control2.
// Numbers travel in the node's native byte order; a string carries its NUL.
//
// Result convention: uint8_t results are 0 on success and 1 or 2 for the
// failures listed at each function. void setters report nothing.
//
// Ownership: a Packet owns its data array (array new / array delete). Every
// operation that replaces or clears the data releases the old array first;
// the destructor releases it. Records are duplicated only with the copying
// init_Packet, which gives the copy an array of its own. The language's copy
// operations are deleted (they would share the array); moving transfers the
// array and leaves the source an empty, all-zero record.
//
// The codec keeps no state: no locks, no logging, no system calls other
// than memory allocation. A record is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace BMC {

const uint8_t packet_ping_header_length = 3;  // header of PING / PING_RESPONSE
const uint8_t packet_header_length = 5;       // header of every other packet
const uint8_t max_packet_data_length = 250;   // so packet_length <= 255

enum PACKET_CONTROL1 : uint8_t {
    PACKET_BROADCAST_FLAG = 0x80,
    PACKET_NODE_ID_MASK = 0x7F,
};

enum PACKET_CONTROL2 : uint8_t {
    PACKET_RESPONSE_REQUIRE_FLAG = 0x80,
    PACKET_DATA_TYPE_MASK = 0x78,
    PACKET_TYPE_MASK = 0x07,
};

// Seven low bits of packet_control1: the BMC itself or a node slot.
enum class NODE_ID : uint8_t {
    BMC = 0,
    NAREL_1,
    NAREL_2,
    NAREL_3,
    NAREL_4,
    NAREL_5,
    NAREL_6,
    NAREL_7,
    NAREL_8,
    NAREL_9,
    NAREL_10,
    NAREL_11,
    NAREL_12,
    NAREL_13,
    NAREL_14,
    NAREL_15,
    NAREL_16,
    NAREL_17,
    NAREL_18,
    NAREL_19,
    NAREL_20,
    NAREL_21,
    NAREL_22,
    NAREL_23,
    NAREL_24,
    NAREL_25,
    NAREL_26,
    NAREL_27,
    NAREL_28,
    NAREL_29,
    NAREL_30,
    NAREL_31,
    NAREL_32,
};

// The functional block a packet concerns.
enum class ADDRESS : uint8_t {
    DESCRIPTION = 0,
    HOTSWAP = 1,
    POWER = 2,
    PSU = 3,
    FAN = 4,
    STATUS = 5,
    BRIDGE1 = 6,
    BRIDGE2 = 7,
    BRIDGE3 = 8,
    BRIDGE4 = 9,
    BRIDGE5 = 10,
    BRIDGE6 = 11,
    BRIDGE7 = 12,
    BRIDGE8 = 13,
    NETWORK = 14,
    BOOT = 15,
};

// Low three bits of packet_control2 (7 is not a defined type).
enum class PACKET_TYPE : uint8_t {
    ERROR = 0,
    PING = 1,
    PING_RESPONSE = 2,
    READ = 3,
    READ_RESPONSE = 4,
    WRITE = 5,
    WRITE_RESPONSE = 6,
};

// Bits 6..3 of packet_control2. Values 11..15 fit the field but have no
// item size (get_Data_Type_Size gives 0).
enum class DATA_TYPE : uint8_t {
    UINT8 = 0,
    INT8 = 1,
    UINT16 = 2,
    INT16 = 3,
    UINT32 = 4,
    INT32 = 5,
    UINT64 = 6,
    INT64 = 7,
    FLOAT = 8,
    DOUBLE = 9,
    STRING = 10,
};

// Items of address DESCRIPTION.
enum SUBADDRESS_DESCRIPTION : uint8_t {
    SUBADDRESS_DESCRIPTION_PROCUCT_NAME = 0,
    SUBADDRESS_DESCRIPTION_VERSION = 1,
    SUBADDRESS_DESCRIPTION_IP_ADDRESS = 2,
    SUBADDRESS_DESCRIPTION_SERIAL_NUMBER = 3,
    SUBADDRESS_DESCRIPTION_MANAGER_EMAIL_ADDRESS = 4,
    SUBADDRESS_DESCRIPTION_OS = 5,
    SUBADDRESS_DESCRIPTION_INFORMATION = 6,
    SUBADDRESS_DESCRIPTION_LOCATION = 7,
};

// Items of address STATUS.
enum SUBADDRESS_STATUS : uint8_t {
    SUBADDRESS_STATUS_TEMPERATURE_ONBOARD = 0,
    SUBADDRESS_STATUS_TEMPERATURE_CPU = 1,
    SUBADDRESS_STATUS_TEMPERATURE_BMC = 2,
    SUBADDRESS_STATUS_TEMPERATURE_RACK = 3,
    SUBADDRESS_STATUS_TEMPERATURE_UNIT_F = 4,
    SUBADDRESS_STATUS_HUMIDITY_RACK = 5,
    SUBADDRESS_STATUS_LED_ALARM = 6,
};

// Items of address NETWORK.
enum SUBADDRESS_NETWORK : uint8_t {
    SUBADDRESS_NETWORK_CONFIG_MODE = 0,
    SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS = 1,
    SUBADDRESS_NETWORK_CONFIG_GATEWAY = 2,
    SUBADDRESS_NETWORK_CONFIG_SUBNETMASK = 3,
    SUBADDRESS_NETWORK_CONFIG_DNS1 = 4,
    SUBADDRESS_NETWORK_CONFIG_DNS2 = 5,
    SUBADDRESS_NETWORK_CONFIG_APPLY = 6,
    SUBADDRESS_NETWORK_CONFIG_HOSTNAME = 7,
};

// State of a power supply unit (carried as data).
enum _SUBADDRESS_PSU_STATUS : uint8_t {
    SUBADDRESS_PSU_STATUS_NOT_INSERTED = 0,
    SUBADDRESS_PSU_STATUS_ERROR = 1,
    SUBADDRESS_PSU_STATUS_POWER_OFF = 2,
    SUBADDRESS_PSU_STATUS_POWER_ON = 3,
};

// Power state of a node slot (carried as data).
enum _SUBADDRESS_POWER_STATUS : uint8_t {
    SUBADDRESS_POWER_STATUS_NAREL_NOT_INSERTED = 0,
    SUBADDRESS_POWER_STATUS_NAREL_INSERTED_POWER_OFF = 1,
    SUBADDRESS_POWER_STATUS_NAREL_INSERTED_POWER_ON = 2,
    SUBADDRESS_POWER_STATUS_NAREL_INSERTED_POWER_ON_READY = 3,
};

// The packet record. Packed: its first five fields are the wire header in
// wire order, one byte each; every transport encodes and decodes them with
// the library's one header codec.
// Invariant kept by the codec: packet_length > 5 <=> data points to exactly
// packet_length - 5 bytes; otherwise data is null. (A size refused with
// code 2 on a record that held data leaves packet_length counting released
// bytes: give it data again or clear it before sending. Copying it is safe:
// the copy is the same, a length without data; the stream writer sends none
// of it.)
struct __attribute__((packed)) Packet {
    uint8_t packet_length;    // whole packet in bytes, this byte included
    uint8_t packet_control1;  // bit 7 broadcast, bits 6..0 NODE_ID
    uint8_t packet_control2;  // bit 7 response-require, 6..3 DATA_TYPE, 2..0 PACKET_TYPE
    ADDRESS address;
    uint8_t subaddress;  // vocabulary depends on address
    uint8_t* data;       // owned; array new / delete; null when no data

    Packet();   // all fields zero, data null
    ~Packet();  // releases data

    Packet(const Packet&) = delete;              // would share the array
    Packet& operator=(const Packet&) = delete;   // use init_Packet(dst, src)
    Packet(Packet&& other) noexcept;             // takes other's array; other becomes empty
    Packet& operator=(Packet&& other) noexcept;  // releases own array first
};

// The first five bytes of the record are the wire header, byte for byte.
static_assert(sizeof(ADDRESS) == 1, "address is one byte on the wire");
static_assert(offsetof(Packet, packet_length) == 0, "wire offset 0");
static_assert(offsetof(Packet, packet_control1) == 1, "wire offset 1");
static_assert(offsetof(Packet, packet_control2) == 2, "wire offset 2");
static_assert(offsetof(Packet, address) == 3, "wire offset 3");
static_assert(offsetof(Packet, subaddress) == 4, "wire offset 4");
static_assert(offsetof(Packet, data) == packet_header_length, "header is packed");

// Builds a complete packet in an existing record: node id and broadcast
// flag, type and response-require flag (releasing old data; length 3 for
// PING / PING_RESPONSE, else 5), address, subaddress, then
// set_Packet_Data(data_type, data, data_count), whose result is discarded.
// Returns 1 when packet is null, otherwise 0 (also when the data were refused).
uint8_t init_Packet(Packet* packet, NODE_ID node_id, bool broadcast, PACKET_TYPE type, bool response_require,
                    ADDRESS address, uint8_t subaddress, DATA_TYPE data_type, const void* data, uint8_t data_count);

// Resets the record to a bare header of packet_length (any 0..255): control
// bytes, address and subaddress 0, old data released, and an uninitialised
// array of packet_length - 5 bytes when packet_length > 5.
// Returns 1 when packet is null, otherwise 0.
uint8_t init_Packet(Packet* packet, uint8_t packet_length);

// Makes *packet a deep copy of source_packet: the destination's old data is
// released and the copy gets its own array. Header bytes beyond the source's
// header length stay 0 (a copied PING has address and subaddress 0). A
// source whose data store was refused (length above 5, data null) gives a
// copy with the same header and, like its source, no data array.
// A null packet is ignored: nothing happens.
void init_Packet(Packet* packet, const Packet& source_packet);

// Replaces the data array by an uninitialised one of data_length bytes and
// sets packet_length to data_length + 5; control bytes unchanged.
// Returns 1 packet null; 2 data_length 0 or above 250 (old data already
// released, packet_length unchanged); 0 done.
uint8_t init_Packet_Data(Packet* packet, uint8_t data_length);

// The setters below require a valid record (not null).

// packet_control1 := node_id, bit 7 set when broadcast.
void set_Packet_Node_ID_Broadcast(Packet* packet, NODE_ID node_id, bool broadcast);
void set_Packet_Address(Packet* packet, ADDRESS address);
void set_Packet_Subaddress(Packet* packet, uint8_t subaddress);

// Sets type and response-require flag, keeps the data-type bits, then
// clears the data as set_Packet_Data_Clear. type is not masked.
void set_Packet_Type(Packet* packet, PACKET_TYPE type, bool response_require);

// Replaces the data by a copy of data_count items of type read from data.
// Returns 1 the packet is PING / PING_RESPONSE (record untouched); 2 the
// byte size is 0 or above 250 (old data already released, packet_length and
// control bytes unchanged); 0 stored (packet_length and data-type bits set).
uint8_t set_Packet_Data(Packet* packet, DATA_TYPE type, const void* data, uint8_t data_count);

// Replaces the data by a copy of str with its NUL, data type STRING.
// Returns 1 the packet is PING / PING_RESPONSE (record untouched); 2 the
// string has 250 or more characters (old data already released,
// packet_length unchanged); 0 stored.
uint8_t set_Packet_String(Packet* packet, const char* str);

// Releases the data; packet_length := 3 for PING / PING_RESPONSE, else 5.
void set_Packet_Data_Clear(Packet* packet);

// Getters: read only, safe on any record including a new all-zero one.
uint8_t get_Packet_Header_Length(const Packet& packet);  // min(packet_length, 5)
uint8_t get_Packet_Data_Length(const Packet& packet);    // packet_length - 5, or 0
// Whole items of the packet's data type in the data; 0 when there is no
// data, when the bytes are not a whole number of items, or when the
// data-type field (11..15) has no item size.
uint8_t get_Packet_Data_Count(const Packet& packet);
NODE_ID get_Packet_Node_ID(const Packet& packet);
bool get_Packet_Broadcast(const Packet& packet);
ADDRESS get_Packet_Address(const Packet& packet);
uint8_t get_Packet_Subaddress(const Packet& packet);
PACKET_TYPE get_Packet_Type(const Packet& packet);     // 0..7
DATA_TYPE get_Packet_Data_Type(const Packet& packet);  // 0..15
bool get_Packet_Response_Require_Flag(const Packet& packet);
// Item size in bytes of one value of type; 0 for any value above 10.
uint8_t get_Data_Type_Size(DATA_TYPE type);

}  // namespace BMC
