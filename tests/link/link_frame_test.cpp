// Frame layouts of the BMC I2C link, checked with byte arrays.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "I2C_BMC_frame.h"

namespace {

using Frame = uint8_t[i2c_frame_size];

std::vector<uint8_t> get_image(const BMC::Packet& packet)
{
    uint8_t buffer[i2c_packet_buffer_size];
    const size_t length = get_i2c_packet_frame(packet, buffer);
    return std::vector<uint8_t>(buffer, buffer + length);
}

std::vector<uint8_t> get_Data(const BMC::Packet& packet)
{
    const size_t n = BMC::get_Packet_Data_Length(packet);
    return n == 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(packet.data, packet.data + n);
}

// A frame whose every byte is its offset plus seed.
void set_pattern(Frame& frame, uint8_t length, uint8_t seed)
{
    for (size_t i = 0; i < i2c_frame_size; ++i) {
        frame[i] = static_cast<uint8_t>(i + seed);
    }
    frame[0] = length;
}

// --- BMC to node -------------------------------------------------------------

TEST(FrameToPacket, PingFrameHasNoAddressOrData)
{
    Frame frame;
    set_pattern(frame, 3, 0x40);
    BMC::Packet packet;
    get_i2c_frame_packet(frame, &packet);
    EXPECT_EQ(packet.packet_length, 3);
    EXPECT_EQ(packet.packet_control1, 0x41);
    EXPECT_EQ(packet.packet_control2, 0x42);
    EXPECT_EQ(static_cast<uint8_t>(packet.address), 0);
    EXPECT_EQ(packet.subaddress, 0);
    EXPECT_EQ(packet.data, nullptr);
}

TEST(FrameToPacket, DataAreBytesFiveToLengthWhateverTheDataType)
{
    for (unsigned length : {6u, 200u, 255u}) {
        Frame frame;
        set_pattern(frame, static_cast<uint8_t>(length), 7);
        frame[2] = 0x7F;  // data type 15: no item size
        BMC::Packet packet;
        get_i2c_frame_packet(frame, &packet);
        SCOPED_TRACE(length);
        EXPECT_EQ(packet.packet_length, length);
        EXPECT_EQ(packet.packet_control1, 8);
        EXPECT_EQ(packet.packet_control2, 0x7F);
        EXPECT_EQ(static_cast<uint8_t>(packet.address), 10);
        EXPECT_EQ(packet.subaddress, 11);
        EXPECT_EQ(get_Data(packet), std::vector<uint8_t>(frame + 5, frame + length));
    }
}

TEST(FrameToPacket, ShortLengthsFillOnlyLeadingHeaderFields)
{
    for (uint8_t length = 0; length <= 5; ++length) {
        Frame frame;
        set_pattern(frame, length, 0x20);
        BMC::Packet packet;
        BMC::init_Packet(&packet, 40);  // held data is released
        get_i2c_frame_packet(frame, &packet);
        SCOPED_TRACE(length);
        const uint8_t expected[5] = {length, 0x21, 0x22, 0x23, 0x24};
        const uint8_t got[5] = {packet.packet_length, packet.packet_control1, packet.packet_control2,
                                static_cast<uint8_t>(packet.address), packet.subaddress};
        for (uint8_t i = 0; i < 5; ++i) {
            EXPECT_EQ(got[i], i < length ? expected[i] : 0) << "header byte " << int(i);
        }
        EXPECT_EQ(packet.data, nullptr);
    }
}

TEST(FrameToPacket, AllZeroFrameOfAFailedReadIsAnEmptyPacket)
{
    Frame frame = {};
    BMC::Packet packet;
    get_i2c_frame_packet(frame, &packet);
    EXPECT_EQ(packet.packet_length, 0);
    EXPECT_EQ(packet.data, nullptr);
}

TEST(FrameToPacket, RandomFramesRoundTripThroughTheTransmitImage)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        Frame frame;
        for (auto& b : frame) {
            b = static_cast<uint8_t>(random());
        }
        BMC::Packet packet;
        get_i2c_frame_packet(frame, &packet);
        const std::vector<uint8_t> image = get_image(packet);
        ASSERT_EQ(image.size(), frame[0]);
        ASSERT_EQ(image, std::vector<uint8_t>(frame, frame + frame[0]));
    }
}

// --- node to BMC -------------------------------------------------------------

TEST(PacketToFrame, PingIsThreeBytes)
{
    BMC::Packet ping;
    BMC::init_Packet(&ping, BMC::NODE_ID::NAREL_3, false, BMC::PACKET_TYPE::PING, true, BMC::ADDRESS::NETWORK, 7,
                     BMC::DATA_TYPE::UINT8, nullptr, 0);
    EXPECT_EQ(get_image(ping), (std::vector<uint8_t>{3, 0x03, 0x81}));
}

TEST(PacketToFrame, StringPacketIsHeaderTextAndNul)
{
    const char text[] = "Debian 12 ok";  // 12 characters
    BMC::Packet packet;
    BMC::init_Packet(&packet, BMC::NODE_ID::NAREL_1, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION,
                     BMC::SUBADDRESS_DESCRIPTION_OS, BMC::DATA_TYPE::STRING, text, 13);
    std::vector<uint8_t> expected = {18, 0x01, 0x55, 0, 5};
    expected.insert(expected.end(), text, text + 13);
    EXPECT_EQ(get_image(packet), expected);
}

TEST(PacketToFrame, LongestPacketIs255Bytes)
{
    std::vector<uint8_t> data(250);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(255 - i);
    }
    BMC::Packet packet;
    BMC::init_Packet(&packet, BMC::NODE_ID::NAREL_32, true, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::STATUS, 6,
                     BMC::DATA_TYPE::UINT8, data.data(), 250);
    const std::vector<uint8_t> image = get_image(packet);
    ASSERT_EQ(image.size(), 255u);
    EXPECT_EQ((std::vector<uint8_t>(image.begin(), image.begin() + 5)), (std::vector<uint8_t>{255, 0xA0, 0x05, 5, 6}));
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 5, image.end()), data);
}

// --- text data ---------------------------------------------------------------

std::string get_text_of(const std::vector<uint8_t>& data, bool* has_text)
{
    BMC::Packet packet;
    BMC::init_Packet(&packet, static_cast<uint8_t>(data.size() + 5));
    if (!data.empty()) {
        memcpy(packet.data, data.data(), data.size());
    }
    char text[i2c_packet_text_size];
    memset(text, 'x', sizeof text);
    *has_text = get_i2c_packet_text(packet, text);
    return text;
}

TEST(PacketText, TerminatedStringIsPassedAsItIs)
{
    bool has_text = false;
    EXPECT_EQ(get_text_of({'n', 'o', 'd', 'e', '1', 0}, &has_text), "node1");
    EXPECT_TRUE(has_text);
}

TEST(PacketText, UnterminatedDataEndWithTheData)
{
    bool has_text = false;
    EXPECT_EQ(get_text_of({'1', '0', '.', '0'}, &has_text), "10.0");
    EXPECT_TRUE(has_text);
    EXPECT_EQ(get_text_of(std::vector<uint8_t>(250, 'a'), &has_text), std::string(250, 'a'));
}

TEST(PacketText, PacketWithoutDataGivesNoText)
{
    bool has_text = true;
    EXPECT_EQ(get_text_of({}, &has_text), "");
    EXPECT_FALSE(has_text);
}

}  // namespace
