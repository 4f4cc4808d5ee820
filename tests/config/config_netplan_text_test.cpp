// Pure text work of the netplan file: mask conversions, the forms of the two
// lists, the lines found by key and position, and the checks of the BMC's
// texts.
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
    EXPECT_EQ(mask_of_prefix("16"), "255.255.0.0");
    EXPECT_EQ(mask_of_prefix("32"), "255.255.255.255");
    EXPECT_EQ(mask_of_prefix("0"), "0.0.0.0");
    EXPECT_EQ(mask_of_prefix("20"), "255.255.240.0");
    EXPECT_EQ(mask_of_prefix("40"), "255.255.255.255");  // above 32 counts as 32
    EXPECT_EQ(mask_of_prefix("99999999999"), "255.255.255.255");
    EXPECT_EQ(mask_of_prefix(""), "0.0.0.0");
}

// --- the two lists ------------------------------------------------------------------

TEST(NetplanTextLists, HandWrittenListsReadAsTheDaemonsForms)
{
    EXPECT_EQ(interface_address_text(parse_interface_address("[10.0.0.1]")), "[10.0.0.1/24]");
    // A broken prefix would make netplan reject the whole file.
    for (const char* broken :
         {"[10.0.0.1/x.x.x.x25]", "[10.0.0.1/33]", "[10.0.0.1/2 4]", "[10.0.0.1/-8]", "[10.0.0.1/0]"}) {
        EXPECT_EQ(interface_address_text(parse_interface_address(broken)), "[10.0.0.1/24]") << broken;
    }
    EXPECT_EQ(interface_address_text(parse_interface_address("[10.0.0.1/1]")), "[10.0.0.1/1]");
    EXPECT_EQ(interface_address_text(parse_interface_address("[10.0.0.1/ 32 ]")), "[10.0.0.1/32]");
    EXPECT_FALSE(is_set(parse_interface_address("[]")));
    // A hand edit's entry around the placeholder counts as unset: never carried into an active list.
    EXPECT_FALSE(is_set(parse_interface_address("[1x.x.x.x/16]")));
    EXPECT_EQ(name_servers_text(parse_name_servers("[1.1.1.1,x.x.x.x5]")), "[1.1.1.1]");
    EXPECT_EQ(name_servers_text(parse_name_servers("[x.x.x.x5,8.8.8.8]")), "[8.8.8.8] #[x.x.x.x,8.8.8.8]");
    EXPECT_EQ(parse_interface_address("[10.0.0.1/8, 10.0.0.2/16] # two").prefix, "8");
    const auto round_trip = [](const char* value) { return name_servers_text(parse_name_servers(value)); };
    EXPECT_EQ(round_trip("[1.1.1.1, 8.8.8.8]"), "[1.1.1.1,8.8.8.8]");
    EXPECT_EQ(round_trip("[]"), "[x.x.x.x,x.x.x.x]");
    EXPECT_FALSE(is_set(parse_name_servers("[]")));
}

// --- edits of the whole file ------------------------------------------------------------

TEST(NetplanTextEdit, TheNameServersListIsTheOneUnderNameservers)
{
    // An administrator's file: other keys, a search list before the name
    // servers, an interface list without a prefix mark.
    const std::string text = "network:\n  version: 2\n  ethernets:\n    eth0:\n      dhcp4: no\n      mtu: 9000\n"
                             "      addresses: []\n      nameservers:\n        search: [lan]\n"
                             "        addresses: []\n";
    const Setting_Edit dns = with_setting(text, NETWORK_CONFIG_TYPE::DNS1, "10.0.0.53");
    EXPECT_EQ(dns.missing, nullptr);
    EXPECT_EQ(dns.text, "network:\n  version: 2\n  ethernets:\n    eth0:\n      dhcp4: no\n      mtu: 9000\n"
                        "      addresses: []\n      nameservers:\n        search: [lan]\n"
                        "        addresses: [10.0.0.53]\n");
    const Setting_Edit address = with_setting(dns.text, NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.0.0.5");
    EXPECT_NE(address.text.find("      addresses: [10.0.0.5/24]\n      nameservers:"), std::string::npos)
        << address.text;
    EXPECT_EQ(setting_of(address.text, NETWORK_CONFIG_TYPE::DNS1), "10.0.0.53");
    EXPECT_EQ(setting_of(address.text, NETWORK_CONFIG_TYPE::DNS2), "x.x.x.x");
    // With nothing active under it, "nameservers:" goes behind '#' unless
    // another key stays there.
    const std::string lone = "    eth0:\n      nameservers:\n        addresses: [1.1.1.1]\n      dhcp4: yes\n";
    const char dhcp[1] = {0};
    EXPECT_EQ(with_setting(lone, NETWORK_CONFIG_TYPE::MODE, dhcp).text,
              "    eth0:\n      #nameservers:\n        #addresses: [1.1.1.1]\n      dhcp4: yes\n");
    EXPECT_NE(with_setting(address.text, NETWORK_CONFIG_TYPE::MODE, dhcp)
                  .text.find("      #addresses: [10.0.0.5/24]\n      nameservers:\n        search: [lan]\n"
                             "        #addresses: [10.0.0.53]\n"),
              std::string::npos);
}

TEST(NetplanTextEdit, ALineTheSettingNeedsIsNeverAppended)
{
    const std::string text = "network:\n  ethernets:\n    eth0:\n      dhcp4: yes\n";
    for (const NETWORK_CONFIG_TYPE type : {NETWORK_CONFIG_TYPE::IP_ADDRESS, NETWORK_CONFIG_TYPE::GATEWAY,
                                           NETWORK_CONFIG_TYPE::SUBNETMASK, NETWORK_CONFIG_TYPE::DNS2}) {
        const Setting_Edit edit = with_setting(text, type, "10.0.0.1");
        EXPECT_NE(edit.missing, nullptr);
        EXPECT_EQ(edit.text, text);
    }
    const char dhcp[1] = {0};
    EXPECT_STREQ(with_setting("#dhcp4: no\n", NETWORK_CONFIG_TYPE::MODE, dhcp).missing, "dhcp4");
}

TEST(NetplanTextEdit, ALineEndOfTheOldValueNeverEntersTheEntry)
{
    // A key with nothing behind it (a block-style list) reads as a bare line
    // end; spliced, it would split the entry over two lines.
    const std::string block = "      nameservers:\n        addresses:\n          - 1.1.1.1\n";
    EXPECT_EQ(with_setting(block, NETWORK_CONFIG_TYPE::DNS2, "9.9.9.9").text, block);
    const std::string crlf = "      addresses:\r\n";
    EXPECT_EQ(with_setting(crlf, NETWORK_CONFIG_TYPE::SUBNETMASK, "255.0.0.0").text, crlf);
}

TEST(NetplanTextEdit, StaticWithoutAnAddress)
{
    const std::string head = "network:\n  ethernets:\n    eth0:\n";
    EXPECT_TRUE(says_static_without_address(head + "      dhcp4: no\n      #addresses: [x.x.x.x/24]\n"));
    EXPECT_TRUE(says_static_without_address(head + "      dhcp4: False\n      addresses: []\n"));
    EXPECT_FALSE(says_static_without_address(head + "      dhcp4: no\n      addresses: [10.0.0.5/24]\n"));
    EXPECT_FALSE(says_static_without_address(head + "      dhcp4: no\n      dhcp6: yes\n"));
    EXPECT_FALSE(says_static_without_address(head + "      dhcp4: yes\n"));
    EXPECT_FALSE(says_static_without_address(head + "      #dhcp4: no\n"));
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

TEST(NetplanTextCheck, MasksHaveThreeOrFourPartsOfAtMost255AndContiguousBits)
{
    for (const char* good :
         {"255.255.255.0", "255.255.255", "255.255.254", "255.255.240.000", "255.255.255.255", "128.0.0.0"}) {
        EXPECT_TRUE(is_mask_text(good)) << good;
        EXPECT_TRUE(is_setting_value(NETWORK_CONFIG_TYPE::SUBNETMASK, good)) << good;
    }
    for (const char* bad :
         {"256.0.0.0", "255.255", "255.255.255.0.0", "255..255.0", "255.255.255.", "1111.0.0.0", "255.255.255.0 ",
          "+255.0.0.0", "", "0.0.0.255", "255.255.255.1", "255.0.255.0", "255.0.255", "254.255.0.0", "0.0.0.0",
          "0.0.0"}) {  // no ones: prefix /0, which netplan refuses
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
