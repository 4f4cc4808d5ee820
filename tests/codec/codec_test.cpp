#include "BMC_data_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "packet_image.h"

using namespace BMC;

namespace {

// The byte image as every transport sends it.
std::vector<uint8_t> image(const Packet& p)
{
    uint8_t bytes[packet_image_max_length];
    return std::vector<uint8_t>(bytes, bytes + encode_packet_image(p, bytes));
}

}  // namespace

static_assert(!std::is_copy_constructible<Packet>::value, "copy would share the data array");
static_assert(!std::is_copy_assignable<Packet>::value, "copy would share the data array");
static_assert(std::is_nothrow_move_constructible<Packet>::value, "move transfers the array");
static_assert(std::is_nothrow_move_assignable<Packet>::value, "move transfers the array");

TEST(CodecRecord, NewRecordIsEmpty)
{
    Packet p;
    EXPECT_EQ(get_Packet_Header_Length(p), 0);
    EXPECT_EQ(get_Packet_Data_Length(p), 0);
    EXPECT_EQ(get_Packet_Data_Count(p), 0);
    EXPECT_EQ(get_Packet_Type(p), PACKET_TYPE::ERROR);
    EXPECT_EQ(get_Packet_Node_ID(p), NODE_ID::BMC);
    EXPECT_FALSE(get_Packet_Broadcast(p));
    EXPECT_EQ(p.data, nullptr);
}

TEST(CodecRecord, MoveTransfersArrayAndEmptiesSource)
{
    Packet a;
    init_Packet(&a, NODE_ID::NAREL_2, false, PACKET_TYPE::WRITE, false, ADDRESS::NETWORK, 3, DATA_TYPE::STRING, "abc",
                4);
    uint8_t* array = a.data;
    Packet b(std::move(a));
    EXPECT_EQ(b.data, array);
    EXPECT_EQ(b.packet_length, 9);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.packet_length, 0);

    Packet c;
    init_Packet(&c, 40);  // its array must be released by the assignment (leak check)
    c = std::move(b);
    EXPECT_EQ(c.data, array);
    EXPECT_EQ(get_Packet_Address(c), ADDRESS::NETWORK);
    EXPECT_EQ(b.data, nullptr);
}

TEST(CodecBuild, PingIsThreeBytes)
{
    Packet p;
    EXPECT_EQ(init_Packet(&p, NODE_ID::NAREL_3, true, PACKET_TYPE::PING, true, ADDRESS::NETWORK, 7, DATA_TYPE::UINT8,
                          nullptr, 0),
              0);
    EXPECT_EQ(image(p), (std::vector<uint8_t>{3, 0x83, 0x81}));
    EXPECT_EQ(p.data, nullptr);
}

TEST(CodecBuild, StringReportImage)
{
    Packet p;
    const char* os = "Ubuntu 22.04";  // 12 characters
    ASSERT_EQ(init_Packet(&p, NODE_ID::NAREL_1, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION,
                          SUBADDRESS_DESCRIPTION_OS, DATA_TYPE::STRING, os, 13),
              0);
    std::vector<uint8_t> expected{18, 0x01, 0x55, 0x00, 0x05};
    expected.insert(expected.end(), os, os + 13);
    EXPECT_EQ(image(p), expected);
    EXPECT_EQ(get_Packet_Data_Type(p), DATA_TYPE::STRING);
    EXPECT_EQ(get_Packet_Data_Count(p), 13);
    EXPECT_EQ(p.data[12], 0);
}

TEST(CodecBuild, FloatReportImage)
{
    Packet p;
    float celsius = 42.5f;  // 0x422A0000, little-endian on the target
    init_Packet(&p, NODE_ID::NAREL_1, false, PACKET_TYPE::WRITE, false, ADDRESS::STATUS,
                SUBADDRESS_STATUS_TEMPERATURE_ONBOARD, DATA_TYPE::FLOAT, &celsius, 1);
    EXPECT_EQ(image(p), (std::vector<uint8_t>{9, 0x01, 0x45, 0x05, 0x00, 0x00, 0x00, 0x2A, 0x42}));
    EXPECT_EQ(get_Packet_Data_Count(p), 1);
}

TEST(CodecBuild, ReinitReleasesDataAndKeepsTypeBitsWhenNothingStored)
{
    Packet p;
    double v[2] = {1.0, 2.0};
    init_Packet(&p, NODE_ID::BMC, false, PACKET_TYPE::READ_RESPONSE, false, ADDRESS::FAN, 1, DATA_TYPE::DOUBLE, v, 2);
    EXPECT_EQ(p.packet_length, 21);
    EXPECT_EQ(
        init_Packet(&p, NODE_ID::BMC, false, PACKET_TYPE::READ, false, ADDRESS::FAN, 1, DATA_TYPE::UINT8, nullptr, 0),
        0);
    EXPECT_EQ(p.packet_length, 5);
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(get_Packet_Data_Type(p), DATA_TYPE::DOUBLE);
    EXPECT_EQ(init_Packet(nullptr, NODE_ID::BMC, false, PACKET_TYPE::READ, false, ADDRESS::FAN, 1, DATA_TYPE::UINT8,
                          nullptr, 0),
              1);
}

TEST(CodecHeaderBits, NodeBroadcastAndType)
{
    Packet p;
    set_Packet_Node_ID_Broadcast(&p, NODE_ID::NAREL_5, true);
    EXPECT_EQ(p.packet_control1, 0x85);
    EXPECT_EQ(get_Packet_Node_ID(p), NODE_ID::NAREL_5);
    EXPECT_TRUE(get_Packet_Broadcast(p));
    set_Packet_Node_ID_Broadcast(&p, NODE_ID::NAREL_32, false);
    EXPECT_EQ(p.packet_control1, 32);

    float f = 1.0f;
    init_Packet(&p, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::STATUS, 0, DATA_TYPE::FLOAT, &f, 1);
    set_Packet_Type(&p, PACKET_TYPE::READ, true);
    EXPECT_EQ(p.packet_control2, 0xC3);
    EXPECT_EQ(p.packet_length, 5);
    EXPECT_EQ(p.data, nullptr);
    EXPECT_TRUE(get_Packet_Response_Require_Flag(p));
    set_Packet_Type(&p, PACKET_TYPE::PING_RESPONSE, false);
    EXPECT_EQ(p.packet_length, 3);
    EXPECT_EQ(get_Packet_Type(p), PACKET_TYPE::PING_RESPONSE);
}

TEST(CodecSizeLimits, DataItems)
{
    Packet p;
    set_Packet_Type(&p, PACKET_TYPE::WRITE, false);
    std::vector<uint8_t> bytes(800, 0xAB);
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT8, bytes.data(), 250), 0);
    EXPECT_EQ(p.packet_length, 255);
    EXPECT_EQ(get_Packet_Data_Count(p), 250);
    // Refusals release the old data but leave packet_length alone.
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT8, bytes.data(), 251), 2);
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(p.packet_length, 255);
    set_Packet_Data_Clear(&p);
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT16, bytes.data(), 125), 0);
    EXPECT_EQ(p.packet_length, 255);
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT16, bytes.data(), 126), 2);
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT64, bytes.data(), 32), 2);
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT64, bytes.data(), 100), 2);
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT8, bytes.data(), 0), 2);
    EXPECT_EQ(set_Packet_Data(&p, static_cast<DATA_TYPE>(11), bytes.data(), 4), 2);
}

TEST(CodecSizeLimits, Strings)
{
    Packet p;
    set_Packet_Type(&p, PACKET_TYPE::WRITE, false);
    EXPECT_EQ(set_Packet_String(&p, ""), 0);
    EXPECT_EQ(p.packet_length, 6);
    EXPECT_EQ(p.data[0], 0);
    EXPECT_EQ(set_Packet_String(&p, std::string(249, 'x').c_str()), 0);
    EXPECT_EQ(p.packet_length, 255);
    EXPECT_EQ(p.data[249], 0);
    EXPECT_EQ(set_Packet_String(&p, std::string(250, 'x').c_str()), 2);
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(set_Packet_String(&p, std::string(300, 'x').c_str()), 2);
}

TEST(CodecSizeLimits, PingRefusesData)
{
    Packet p;
    set_Packet_Type(&p, PACKET_TYPE::PING, false);
    uint8_t b = 1;
    EXPECT_EQ(set_Packet_Data(&p, DATA_TYPE::UINT8, &b, 1), 1);
    EXPECT_EQ(set_Packet_String(&p, "x"), 1);
    EXPECT_EQ(p.packet_length, 3);
    EXPECT_EQ(p.packet_control2, 0x01);
    EXPECT_EQ(p.data, nullptr);
}

TEST(CodecShape, LengthForm)
{
    Packet p;
    set_Packet_Node_ID_Broadcast(&p, NODE_ID::NAREL_9, true);
    for (uint8_t length : {0, 3, 5}) {
        EXPECT_EQ(init_Packet(&p, length), 0);
        EXPECT_EQ(p.packet_length, length);
        EXPECT_EQ(p.packet_control1, 0);
        EXPECT_EQ(p.data, nullptr);
    }
    EXPECT_EQ(init_Packet(&p, 255), 0);
    ASSERT_NE(p.data, nullptr);
    std::memset(p.data, 0x5A, 250);  // the array must really hold 250 bytes
    EXPECT_EQ(init_Packet(nullptr, 9), 1);
}

TEST(CodecShape, DataArrayForm)
{
    Packet p;
    set_Packet_Type(&p, PACKET_TYPE::WRITE, true);
    EXPECT_EQ(init_Packet_Data(nullptr, 4), 1);
    EXPECT_EQ(init_Packet_Data(&p, 0), 2);
    EXPECT_EQ(init_Packet_Data(&p, 251), 2);
    EXPECT_EQ(init_Packet_Data(&p, 10), 0);
    EXPECT_EQ(p.packet_length, 15);
    EXPECT_EQ(p.packet_control2, 0x85);
    EXPECT_EQ(init_Packet_Data(&p, 250), 0);  // releases the 10-byte array
    std::memset(p.data, 0, 250);
}

TEST(CodecCopy, PingCopiesOnlyItsThreeHeaderBytes)
{
    Packet source, copy;
    init_Packet(&source, NODE_ID::NAREL_4, false, PACKET_TYPE::PING, false, ADDRESS::NETWORK, 7, DATA_TYPE::UINT8,
                nullptr, 0);
    init_Packet(&copy, source);
    EXPECT_EQ(image(copy), image(source));
    EXPECT_EQ(copy.address, ADDRESS::DESCRIPTION);
    EXPECT_EQ(copy.subaddress, 0);
}

TEST(CodecCopy, ReleasesOldDataAndSharesNothing)
{
    Packet copy;
    init_Packet(&copy, 200);  // old array: must not leak
    std::vector<uint8_t> expected;
    {
        Packet source;
        init_Packet(&source, NODE_ID::NAREL_1, true, PACKET_TYPE::WRITE, false, ADDRESS::POWER, 2, DATA_TYPE::STRING,
                    "node", 5);
        init_Packet(&copy, source);
        EXPECT_NE(copy.data, source.data);
        expected = image(source);
    }
    EXPECT_EQ(image(copy), expected);

    init_Packet(&copy, copy);  // a copy onto itself keeps the record
    EXPECT_EQ(image(copy), expected);
    init_Packet(nullptr, copy);  // ignored
}

TEST(CodecCopy, RefusedDataStoreCopiesHeaderWithoutArray)
{
    Packet source;
    init_Packet(&source, NODE_ID::NAREL_2, false, PACKET_TYPE::WRITE, true, ADDRESS::NETWORK, 4, DATA_TYPE::STRING,
                "10.0.0.1", 9);
    ASSERT_EQ(set_Packet_String(&source, std::string(300, 'x').c_str()), 2);
    ASSERT_EQ(source.packet_length, 14);  // still counts the released bytes
    ASSERT_EQ(source.data, nullptr);

    Packet copy;
    init_Packet(&copy, 40);  // the copy's old array is released
    init_Packet(&copy, source);
    EXPECT_EQ(std::memcmp(&copy, &source, packet_header_length), 0);
    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(get_Packet_Data_Length(copy), 9);
}

TEST(CodecCount, ItemsAndUnsizedTypes)
{
    Packet p;
    set_Packet_Type(&p, PACKET_TYPE::WRITE, false);
    init_Packet_Data(&p, 7);
    p.packet_control2 = static_cast<uint8_t>((p.packet_control2 & 0x87) | (2 << 3));  // UINT16
    EXPECT_EQ(get_Packet_Data_Count(p), 0);
    init_Packet_Data(&p, 8);
    EXPECT_EQ(get_Packet_Data_Count(p), 4);
    for (uint8_t t = 11; t <= 15; ++t) {
        p.packet_control2 = static_cast<uint8_t>((p.packet_control2 & 0x87) | (t << 3));
        EXPECT_EQ(get_Packet_Data_Type(p), static_cast<DATA_TYPE>(t));
        EXPECT_EQ(get_Packet_Data_Count(p), 0);
    }
}

TEST(CodecCount, ItemSizes)
{
    const uint8_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 1};
    for (uint8_t t = 0; t <= 10; ++t)
        EXPECT_EQ(get_Data_Type_Size(static_cast<DATA_TYPE>(t)), sizes[t]);
    for (unsigned t = 11; t <= 255; ++t)
        EXPECT_EQ(get_Data_Type_Size(static_cast<DATA_TYPE>(t)), 0);
}

TEST(CodecImage, HeaderFieldsInWireOrderAndOnlyThoseTheBytesCarry)
{
    Packet p;
    init_Packet(&p, NODE_ID::NAREL_9, true, PACKET_TYPE::READ, true, ADDRESS::FAN, 0x42, DATA_TYPE::UINT8, nullptr, 0);
    uint8_t header[packet_header_length];
    EXPECT_EQ(encode_packet_header(p, header), 5);
    EXPECT_EQ(std::vector<uint8_t>(header, header + 5), (std::vector<uint8_t>{5, 0x89, 0x83, 4, 0x42}));
    set_Packet_Type(&p, PACKET_TYPE::PING, false);
    EXPECT_EQ(encode_packet_header(p, header), 3);

    // A header cut short by its reader fills the leading fields only.
    const uint8_t bytes[] = {20, 0x05, 0x45, 14, 7};
    Packet q;
    init_Packet(&q, NODE_ID::NAREL_1, false, PACKET_TYPE::WRITE, false, ADDRESS::BOOT, 9, DATA_TYPE::UINT8, nullptr, 0);
    decode_packet_header(bytes, 3, &q);
    EXPECT_EQ(q.packet_length, 20);
    EXPECT_EQ(q.packet_control1, 0x05);
    EXPECT_EQ(q.packet_control2, 0x45);
    EXPECT_EQ(get_Packet_Address(q), ADDRESS::BOOT);
    EXPECT_EQ(get_Packet_Subaddress(q), 9);
    EXPECT_EQ(q.data, nullptr);
    decode_packet_header(bytes, 5, &q);
    EXPECT_EQ(get_Packet_Address(q), ADDRESS::NETWORK);
    EXPECT_EQ(get_Packet_Subaddress(q), 7);

    // A stream reader takes the length byte even when it says 0.
    EXPECT_EQ(count_stream_packet_bytes(0), 1u);
    EXPECT_EQ(count_stream_packet_bytes(1), 1u);
    EXPECT_EQ(count_stream_packet_bytes(255), 255u);
}
