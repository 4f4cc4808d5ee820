// Decoding and building of BMC link frames (pure, no board).
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "bmc_frames.h"

namespace {

using vboard::Bytes;
using vboard::decode_frame;

Bytes with_data(Bytes header, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    header.insert(header.end(), p, p + n);
    header[0] = static_cast<uint8_t>(header.size());
    return header;
}

TEST(FrameDecode, StringReportFromANode)
{
    // WRITE, STRING, response required, node 1, DESCRIPTION / OS.
    const auto d = decode_frame(with_data({0, 0x01, 0x80 | (10 << 3) | 5, 0, 5}, "Debian 12", 10));
    EXPECT_EQ(d.length, 15u);
    EXPECT_EQ(d.node, 1u);
    EXPECT_FALSE(d.broadcast);
    EXPECT_EQ(d.packet_type, "WRITE");
    EXPECT_TRUE(d.response_require);
    EXPECT_EQ(d.data_type, "STRING");
    EXPECT_EQ(d.address, "DESCRIPTION");
    EXPECT_EQ(d.subaddress, "SUBADDRESS_DESCRIPTION_OS");
    EXPECT_EQ(d.data, "Debian 12");
    EXPECT_EQ(d.problem, "");
    EXPECT_EQ(d.line(), "len=15 node=1 bcast=0 type=WRITE resp=1 dtype=STRING addr=DESCRIPTION "
                        "sub=SUBADDRESS_DESCRIPTION_OS data=\"Debian 12\"");
}

TEST(FrameDecode, FloatTemperatureAndBroadcastBit)
{
    const float t = 45.5f;
    const auto d = decode_frame(with_data({0, 0x85, (8 << 3) | 5, 5, 0}, &t, sizeof t));
    EXPECT_EQ(d.node, 5u);
    EXPECT_TRUE(d.broadcast);
    EXPECT_EQ(d.data_type, "FLOAT");
    EXPECT_EQ(d.address, "STATUS");
    EXPECT_EQ(d.subaddress, "SUBADDRESS_STATUS_TEMPERATURE_ONBOARD");
    EXPECT_EQ(d.data, "45.5");
}

TEST(FrameDecode, PingIsThreeBytes)
{
    const auto d = decode_frame({3, 0x02, 0x01});
    EXPECT_EQ(d.packet_type, "PING");
    EXPECT_EQ(d.address, "");
    EXPECT_EQ(d.problem, "");
    EXPECT_EQ(d.line(), "len=3 node=2 bcast=0 type=PING resp=0 dtype=UINT8");
}

TEST(FrameDecode, IntegersAndUnknownValues)
{
    const int16_t values[] = {-2, 300};
    auto d = decode_frame(with_data({0, 0, (3 << 3) | 7, 42, 9}, values, sizeof values));
    EXPECT_EQ(d.packet_type, "TYPE7");
    EXPECT_EQ(d.address, "42");
    EXPECT_EQ(d.subaddress, "9");
    EXPECT_EQ(d.data, "-2 300");
    d = decode_frame({7, 0, (12 << 3) | 5, 14, 1, 0xab, 0x01});
    EXPECT_EQ(d.data_type, "DTYPE12");
    EXPECT_EQ(d.data, "ab 01");
    d = decode_frame({8, 0, (2 << 3) | 5, 14, 1, 1, 2, 3});
    EXPECT_EQ(d.data, "01 02 03");
    EXPECT_EQ(d.problem, "data not whole items");
}

TEST(FrameDecode, FlawedFramesAreNamed)
{
    EXPECT_EQ(decode_frame({6, 0, (10 << 3) | 5, 14, 7, 'x'}).problem, "string without NUL");
    EXPECT_EQ(decode_frame({9, 0, 5, 14, 7}).problem, "length byte 9 in a frame of 5");
    EXPECT_EQ(decode_frame({0x0a}).problem, "frame of 1 bytes");
    const auto d = decode_frame({8, 0, (10 << 3) | 5, 14, 7, 'a', 0, 0x01});
    EXPECT_EQ(d.data, "a");
    EXPECT_EQ(d.problem, "bytes after the string's NUL");
    EXPECT_EQ(decode_frame({9, 0, (10 << 3) | 5, 14, 7, 'a', '"', 0x07, 0}).data, "a\\x22\\x07");
}

TEST(FrameBuild, NetworkCommandsAsTheBmcSendsThem)
{
    EXPECT_EQ(vboard::network_mode_frame(vboard::network_mode_static), (Bytes{6, 0, 5, 14, 0, 0}));
    EXPECT_EQ(vboard::network_mode_frame(vboard::network_mode_dhcp), (Bytes{6, 0, 5, 14, 0, 1}));
    EXPECT_EQ(vboard::network_apply_frame(), (Bytes{5, 0, 5, 14, 6}));
    EXPECT_EQ(vboard::network_hostname_frame("node7"), (Bytes{11, 0, 0x55, 14, 7, 'n', 'o', 'd', 'e', '7', 0}));
    const struct {
        Bytes frame;
        const char* sub;
    } texts[] = {
        {vboard::network_ip_frame("10.0.0.2"), "SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS"},
        {vboard::network_gateway_frame("10.0.0.1"), "SUBADDRESS_NETWORK_CONFIG_GATEWAY"},
        {vboard::network_netmask_frame("255.255.255.0"), "SUBADDRESS_NETWORK_CONFIG_SUBNETMASK"},
        {vboard::network_dns1_frame("1.1.1.1"), "SUBADDRESS_NETWORK_CONFIG_DNS1"},
        {vboard::network_dns2_frame("8.8.8.8"), "SUBADDRESS_NETWORK_CONFIG_DNS2"},
    };
    for (const auto& t : texts) {
        const auto d = decode_frame(t.frame);
        EXPECT_EQ(d.subaddress, t.sub);
        EXPECT_EQ(d.problem, "");
        EXPECT_EQ(d.packet_type, "WRITE");
    }
    EXPECT_EQ(vboard::network_hostname_frame(std::string(249, 'h')).size(), 255u);
    EXPECT_THROW(vboard::network_hostname_frame(std::string(250, 'h')), std::invalid_argument);
}

TEST(FrameBuild, PingDropsAddressAndData)
{
    EXPECT_EQ(vboard::build_frame(0, false, 2, false, 0, 14, 7, {1, 2}), (Bytes{3, 0, 2}));
    EXPECT_EQ(vboard::build_frame(33, true, 5, true, 8, 5, 0, {1, 2, 3, 4}), (Bytes{9, 0xa1, 0xc5, 5, 0, 1, 2, 3, 4}));
}

TEST(FrameHex, ParsesAndPrints)
{
    Bytes out;
    EXPECT_TRUE(vboard::parse_hex_bytes("05 00 2d 0e 06", &out));
    EXPECT_EQ(out, (Bytes{5, 0, 0x2d, 0x0e, 6}));
    EXPECT_TRUE(vboard::parse_hex_bytes("0x05,0xFF", &out));
    EXPECT_EQ(out, (Bytes{5, 0xff}));
    EXPECT_TRUE(vboard::parse_hex_bytes("0500", &out));
    EXPECT_EQ(out, (Bytes{5, 0}));
    EXPECT_FALSE(vboard::parse_hex_bytes("05 zz", &out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(vboard::hex_bytes({5, 0, 0xab}), "05 00 ab");
}

}  // namespace
