// Pure text work of the netplan file: mask conversions, value splicing and
// the checks of the BMC's texts.
#include <gtest/gtest.h>

#include <string>

#include "config_netplan_text.h"

using namespace netplan_text;

// --- mask conversions -------------------------------------------------------------

TEST(NetplanTextMask, LeadingOnesPerOctet)
{
    EXPECT_EQ(get_Bit_Count(255), 8);
    EXPECT_EQ(get_Bit_Count(254), 7);
    EXPECT_EQ(get_Bit_Count(240), 4);
    EXPECT_EQ(get_Bit_Count(176), 1);
    EXPECT_EQ(get_Bit_Count(0), 0);
    EXPECT_EQ(get_Subnetmask_Bit_Count("255.255.0.0"), 16);
    EXPECT_EQ(get_Subnetmask_Bit_Count("255.255.255.255"), 32);
    EXPECT_EQ(get_Subnetmask_Bit_Count("0.0.0.0"), 0);
    EXPECT_EQ(get_Subnetmask_Bit_Count("255.255.255"), 24);
    EXPECT_EQ(get_Subnetmask_Bit_Count("255.0.255.0"), 16);
    EXPECT_EQ(get_Subnetmask_Bit_Count("255.255.255.255.255"), 32);
    EXPECT_EQ(get_Subnetmask_Bit_Count(""), 0);
}

TEST(NetplanTextMask, PrefixLengthToDottedMask)
{
    EXPECT_EQ(mask_of("[10.0.0.1/16]"), "255.255.0.0");
    EXPECT_EQ(mask_of("[10.0.0.1/32]"), "255.255.255.255");
    EXPECT_EQ(mask_of("[10.0.0.1/0]"), "0.0.0.0");
    EXPECT_EQ(mask_of("[10.0.0.1/20]"), "255.255.240.0");
    EXPECT_EQ(mask_of("[10.0.0.1/40]"), "255.255.255.255");  // above 32 counts as 32
    EXPECT_EQ(mask_of("[10.0.0.1/99999999999]"), "255.255.255.255");
    EXPECT_EQ(mask_of("[10.0.0.1]"), "0.0.0.0");
    EXPECT_EQ(mask_of(""), "0.0.0.0");
}

// --- readers ------------------------------------------------------------------------

TEST(NetplanTextRead, AddressAndNameServers)
{
    EXPECT_EQ(address_of("[[10.0.0.1/24]"), "10.0.0.1");
    EXPECT_EQ(address_of("[10.0.0.1]"), "10.0.0.1]");
    EXPECT_EQ(dns1_of("[1.1.1.1,8.8.8.8]"), "1.1.1.1");
    EXPECT_EQ(dns2_of("[1.1.1.1,8.8.8.8]"), "8.8.8.8");
    EXPECT_EQ(dns2_of("[1.1.1.1]"), "");
    EXPECT_EQ(dns1_of("[1.1.1.1]"), "1.1.1.1]");
}

// --- composers ------------------------------------------------------------------------

TEST(NetplanTextCompose, EachEditKeepsTheOtherPart)
{
    EXPECT_EQ(with_address("[x.x.x.x/24]", "10.0.0.5"), "[10.0.0.5/24]");
    EXPECT_EQ(with_address("[x.x.x.x]", "10.0.0.5"), "[10.0.0.5/]");
    EXPECT_EQ(with_prefix("[10.0.0.5/24]", 16), "[10.0.0.5/16]");
    EXPECT_EQ(with_prefix("[10.0.0.5]", 16), "[10.0.0.5/16]");
    EXPECT_EQ(with_dns1("[x.x.x.x,y.y.y.y]", "9.9.9.9"), "[9.9.9.9,y.y.y.y]");
    EXPECT_EQ(with_dns1("[x.x.x.x]", "9.9.9.9"), "[9.9.9.9]");
    EXPECT_EQ(with_dns2("[x.x.x.x,y.y.y.y]", "9.9.9.9"), "[x.x.x.x,9.9.9.9]");
    EXPECT_EQ(with_dns2("[x.x.x.x]", "9.9.9.9"), "[x.x.x.x,9.9.9.9]");
    EXPECT_EQ(with_dns2("", "9.9.9.9"), "[,9.9.9.9]");
}

TEST(NetplanTextCompose, ResultsThatDoNotFitTheirBufferAreRefused)
{
    const std::string long_prefix = "[a/" + std::string(110, '1') + "]";
    EXPECT_FALSE(with_address(long_prefix, "255.255.255.255"));
    EXPECT_TRUE(with_address("[a/" + std::string(100, '1') + "]", "255.255.255.255"));
    EXPECT_FALSE(with_dns1("[a," + std::string(130, 'b') + "]", "1.2.3.4"));
    EXPECT_FALSE(with_dns2("[" + std::string(126, 'a') + ",b]", "1.2.3.4"));
    EXPECT_FALSE(with_prefix("[" + std::string(126, 'a') + "/1]", 32));
}

TEST(NetplanTextCompose, ALineEndOfTheOldValueNeverEntersTheEntry)
{
    // A key with nothing behind it (a block-style list) reads as a bare line
    // end; spliced, it would split the entry over two lines.
    const std::string block = "      addresses:\n        - 1.1.1.1\n";
    EXPECT_EQ(with_setting(block, NETWORK_CONFIG_TYPE::DNS2, "9.9.9.9"), block);
    const std::string crlf = "      addresses:\r\n";
    EXPECT_EQ(with_setting(crlf, NETWORK_CONFIG_TYPE::SUBNETMASK, "255.0.0.0"), crlf);
}

// --- checks of the BMC's texts ------------------------------------------------------

TEST(NetplanTextCheck, AddressesAreDottedQuadsNetplanAccepts)
{
    EXPECT_TRUE(is_ipv4_address("10.0.0.1"));
    EXPECT_TRUE(is_ipv4_address("255.255.255.255"));
    EXPECT_TRUE(is_ipv4_address("0.0.0.0"));
    // Digits and dots that netplan refuses, or reads otherwise.
    for (const char* bad :
         {"999.1.1.1", "1..2", "1.2.3", "255.255.255", "192.168.001.010", "1.2.3.4.", ".1.2.3", "256.0.0.1", "",
          "255.255.255.2550", "1.2.3.4]", "1.2.3.4\n", "1.2.3.4/24", "-1.2.3.4", " 1.2.3.4", "0x1.2.3.4"}) {
        EXPECT_FALSE(is_ipv4_address(bad)) << bad;
    }
}

TEST(NetplanTextCheck, MasksHaveThreeOrFourPartsOfAtMost255)
{
    for (const char* good : {"255.255.255.0", "255.255.255", "0.0.0.0", "255.255.240.000"}) {
        EXPECT_TRUE(is_mask_text(good)) << good;
        EXPECT_TRUE(is_setting_value(NETWORK_CONFIG_TYPE::SUBNETMASK, good)) << good;
    }
    for (const char* bad : {"256.0.0.0", "255.255", "255.255.255.0.0", "255..255.0", "255.255.255.", "1111.0.0.0",
                            "255.255.255.0 ", "+255.0.0.0", ""}) {
        EXPECT_FALSE(is_mask_text(bad)) << bad;
    }
    EXPECT_FALSE(is_setting_value(NETWORK_CONFIG_TYPE::GATEWAY, "255.255.255"));
}

TEST(NetplanTextCheck, HostNames)
{
    EXPECT_TRUE(is_hostname("node-7"));
    EXPECT_TRUE(is_hostname("a"));
    EXPECT_TRUE(is_hostname("rack2.Node-8"));
    EXPECT_TRUE(is_hostname(std::string(63, 'a').c_str()));
    EXPECT_FALSE(is_hostname(std::string(64, 'a').c_str()));
    EXPECT_TRUE(is_hostname((std::string(31, 'a') + "." + std::string(32, 'b')).c_str()));
    EXPECT_FALSE(is_hostname((std::string(32, 'a') + "." + std::string(32, 'b')).c_str()));
    for (const char* bad :
         {"", "-a", "a-", "a.-b", "a..b", ".a", "a.", "a b", "a;b", "$(x)", "`x`", "a_b", "a\nb", "a'b", "a\"b"}) {
        EXPECT_FALSE(is_hostname(bad)) << bad;
    }
}
