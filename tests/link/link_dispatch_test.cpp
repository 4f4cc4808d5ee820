// Frames from the BMC, shaped into packets as the link reads them, through
// the dispatcher to the network commands: each subaddress reaches its
// command (checked by its effect on the netplan file under the prefix and on
// the recording fakes), and hostile frames are survived. No bus is needed.
#include <algorithm>
#include <cstring>
#include <random>

#include "I2C_BMC_frame.h"
#include "link_dispatch.h"
#include "link_fixture.h"

namespace link_test {
namespace {

const std::string apply_call = "netplan apply";

std::string netplan_text() { return nk_test::read_file(netplan_config_path); }

// A WRITE from the BMC to address NETWORK with the given subaddress and data.
Bytes network_frame(uint8_t subaddress, const Bytes& data, uint8_t address = 14, uint8_t control2 = 0x55)
{
    Bytes frame = {static_cast<uint8_t>(5 + data.size()), 0x00, control2, address, subaddress};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

Bytes text_bytes(const std::string& text, bool with_nul = true)
{
    Bytes bytes(text.begin(), text.end());
    if (with_nul) {
        bytes.push_back(0);
    }
    return bytes;
}

// The link's fixture without its board: the dispatcher runs on the test's
// thread.
class DispatchTest : public LinkTest {
protected:
    // Carries out one frame as the link does after reading it.
    static void dispatch(const Bytes& frame)
    {
        uint8_t raw[i2c_frame_size] = {};
        memcpy(raw, frame.data(), std::min(frame.size(), sizeof raw));
        BMC::Packet packet;
        get_i2c_frame_packet(raw, &packet);
        I2C_BMC_Packet_Hander(&packet);
    }
    // The frames, then an apply.
    void send_then_apply(const std::vector<Bytes>& frames)
    {
        for (const auto& f : frames) {
            dispatch(f);
        }
        dispatch(vboard::network_apply_frame());
        EXPECT_TRUE(has_call(apply_call));
    }
};

// --- each subaddress reaches its command ---------------------------------------

TEST_F(DispatchTest, StaticAddressingEditsTheNetplanFile)
{
    send_then_apply({vboard::network_mode_frame(vboard::network_mode_static), vboard::network_ip_frame("10.1.2.3"),
                     vboard::network_netmask_frame("255.255.0.0"), vboard::network_gateway_frame("10.1.0.1"),
                     vboard::network_dns1_frame("10.1.0.53"), vboard::network_dns2_frame("10.1.0.54")});
    const std::string text = netplan_text();
    EXPECT_NE(text.find("dhcp4: no"), std::string::npos) << text;
    EXPECT_NE(text.find("addresses: [10.1.2.3/16]"), std::string::npos) << text;
    EXPECT_NE(text.find("gateway4: 10.1.0.1"), std::string::npos) << text;
    EXPECT_NE(text.find("addresses: [10.1.0.53,10.1.0.54]"), std::string::npos) << text;
    EXPECT_EQ(calls(), (std::vector<std::string>{nk_test::generate_call, apply_call}));
}

TEST_F(DispatchTest, ModeDhcpByteReachesTheModeCommand)
{
    // Static first, then back to DHCP: the file is deleted and the apply
    // writes the DHCP template.
    send_then_apply({vboard::network_mode_frame(vboard::network_mode_static), vboard::network_ip_frame("10.1.2.3"),
                     vboard::network_mode_frame(vboard::network_mode_dhcp)});
    EXPECT_EQ(netplan_text(), netplan_dhcp_default_config);
}

TEST_F(DispatchTest, HostnameRunsHostnamectl)
{
    dispatch(vboard::network_hostname_frame("node5"));
    EXPECT_TRUE(has_call("hostnamectl set-hostname node5"));
}

TEST_F(DispatchTest, ApplyRunsWhateverTheAddressAndType)
{
    dispatch(network_frame(6, {}, /*address DESCRIPTION*/ 0, /*READ*/ 0x03));
    EXPECT_TRUE(has_call(apply_call));
    EXPECT_EQ(netplan_text(), netplan_dhcp_default_config);
}

TEST_F(DispatchTest, SubaddressesAboveSevenDoNothing)
{
    send_then_apply(
        {network_frame(8, text_bytes("evil")), network_frame(9, text_bytes("10.9.9.9")), network_frame(255, {0})});
    EXPECT_EQ(calls(), (std::vector<std::string>{nk_test::generate_call, apply_call}));
    EXPECT_EQ(netplan_text(), netplan_dhcp_default_config);
}

TEST_F(DispatchTest, LongFramesCarryTheirDataFromByteFive)
{
    // A ping of the BMC (3 bytes), then name servers in frames of 200 and 255
    // bytes whose text is followed by filler up to the frame's end.
    Bytes dns1 = text_bytes("10.0.0.53");
    dns1.resize(195, 0xAA);
    Bytes dns2 = text_bytes("10.0.0.54");
    dns2.resize(250, 0xBB);
    send_then_apply({{3, 0x00, 0x01}, network_frame(4, dns1), network_frame(5, dns2)});
    ASSERT_EQ(network_frame(4, dns1).size(), 200u);
    EXPECT_NE(netplan_text().find("addresses: [10.0.0.53,10.0.0.54]"), std::string::npos) << netplan_text();
}

// --- hostile frames ----------------------------------------------------------

TEST_F(DispatchTest, ShortFramesWithoutDataReachNoCommand)
{
    nk_test::write_file(netplan_config_path, "kept\n");
    dispatch({0});
    dispatch({1});
    dispatch({2, 0x80});
    dispatch({5, 0x00, 0x05, 14, 0});  // mode without its byte
    dispatch({5, 0x00, 0x55, 14, 7});  // host name without text
    dispatch({5, 0x00, 0x55, 14, 4});  // name server without text
    dispatch(network_frame(9, {}));
    dispatch(vboard::network_hostname_frame("after"));
    ASSERT_TRUE(has_call("hostnamectl set-hostname after"));
    EXPECT_EQ(calls(), (std::vector<std::string>{"hostnamectl set-hostname after"}));
    EXPECT_EQ(netplan_text(), "kept\n");
}

TEST_F(DispatchTest, TextsWithoutNulEndWithTheirData)
{
    send_then_apply({network_frame(7, text_bytes("abcde", false)), network_frame(4, text_bytes("10.2.0.9", false))});
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"hostnamectl set-hostname abcde", nk_test::generate_call, apply_call}));
    EXPECT_NE(netplan_text().find("addresses: [10.2.0.9,"), std::string::npos) << netplan_text();
}

TEST_F(DispatchTest, RandomFullLengthFramesAreSurvived)
{
    std::mt19937 random(4711);
    std::vector<Bytes> frames;
    for (uint8_t subaddress = 0; subaddress <= 9; ++subaddress) {
        if (subaddress == 6) {
            continue;
        }
        Bytes data(250);
        for (auto& b : data) {
            b = static_cast<uint8_t>(0x80 | random());  // never a NUL, never text
        }
        frames.push_back(network_frame(subaddress, data));
    }
    send_then_apply(frames);
    // Mode 0 (a first byte at or above 0x80 is DHCP: unchanged); nothing
    // else is a valid text.
    EXPECT_EQ(calls(), (std::vector<std::string>{nk_test::generate_call, apply_call}));
}

}  // namespace
}  // namespace link_test
