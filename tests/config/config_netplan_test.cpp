// The netplan file operations: templates, reading and writing single
// settings through line edits, the mode switch by comment marks.
#include <string>

#include "netplan_fixture.h"

class NetplanFile : public NetplanTest {
protected:
    std::string get_text(NETWORK_CONFIG_TYPE type) const
    {
        char buffer[100] = {};
        get_netplan_setting(path(), type, buffer);
        return buffer;
    }
    void set_text(NETWORK_CONFIG_TYPE type, const char* text) const { set_netplan_setting(path(), type, text); }
};

// --- templates --------------------------------------------------------------

TEST_F(NetplanFile, MissingFileIsWrittenFromTheTemplateOfTheMode)
{
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS1), "1.1.1.1");
    EXPECT_EQ(netplan(), netplan_dhcp_default_config);
    std::remove(path());
    network_mode = NETWORK_MODE::STATIC;
    // Nothing set yet: every value line behind '#', read as placeholders.
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::GATEWAY), "x.x.x.x");
    EXPECT_EQ(netplan(), netplan_static_default_config);
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::IP_ADDRESS), "x.x.x.x");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::SUBNETMASK), "255.255.255.0");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS1), "x.x.x.x");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS2), "x.x.x.x");
}

// --- address and netmask ------------------------------------------------------

TEST_F(NetplanFile, AMaskSetBeforeTheAddressIsKeptForIt)
{
    network_mode = NETWORK_MODE::STATIC;
    set_text(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.0.0");
    EXPECT_EQ(netplan(), static_with("#addresses: [x.x.x.x/24]", "#addresses: [x.x.x.x/16]"));
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::SUBNETMASK), "255.255.0.0");
    set_text(NETWORK_CONFIG_TYPE::IP_ADDRESS, "172.16.4.9");
    EXPECT_EQ(netplan(), static_with("#addresses: [x.x.x.x/24]", "addresses: [172.16.4.9/16]"));
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::IP_ADDRESS), "172.16.4.9");
    set_text(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.255.255");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::SUBNETMASK), "255.255.255.255");
    // Prefix /0 would make netplan refuse the whole file: refused, the /32 stays.
    set_text(NETWORK_CONFIG_TYPE::SUBNETMASK, "0.0.0.0");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::SUBNETMASK), "255.255.255.255");
    EXPECT_NE(netplan().find("      addresses: [172.16.4.9/32]\n"), std::string::npos);
}

// --- name servers -------------------------------------------------------------

TEST_F(NetplanFile, ANameServerListHoldsOnlyTheServersSet)
{
    network_mode = NETWORK_MODE::STATIC;
    const std::string active_block = "      nameservers:\n        addresses: ";
    set_text(NETWORK_CONFIG_TYPE::DNS1, "10.0.0.53");
    EXPECT_EQ(netplan(),
              static_with("      #nameservers:\n        #addresses: [x.x.x.x,x.x.x.x]", active_block + "[10.0.0.53]"));
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS2), "x.x.x.x");
    set_text(NETWORK_CONFIG_TYPE::DNS2, "10.0.1.53");
    EXPECT_EQ(netplan(), static_with("      #nameservers:\n        #addresses: [x.x.x.x,x.x.x.x]",
                                     active_block + "[10.0.0.53,10.0.1.53]"));

    // The second server alone stays the second once the first comes.
    std::remove(path());
    set_text(NETWORK_CONFIG_TYPE::DNS2, "10.0.1.53");
    EXPECT_NE(netplan().find(active_block + "[10.0.1.53] #[x.x.x.x,10.0.1.53]\n"), std::string::npos) << netplan();
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS1), "x.x.x.x");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS2), "10.0.1.53");
    set_text(NETWORK_CONFIG_TYPE::DNS1, "10.0.0.53");
    EXPECT_NE(netplan().find(active_block + "[10.0.0.53,10.0.1.53]\n"), std::string::npos) << netplan();
}

// --- mode by comment marks ------------------------------------------------------

TEST_F(NetplanFile, ModeSettingCommentsTheStaticLinesOutAndBringsBackOnlyThoseSet)
{
    network_mode = NETWORK_MODE::STATIC;
    set_text(NETWORK_CONFIG_TYPE::GATEWAY, "10.0.0.1");
    const std::string with_gateway = netplan();
    char dhcp[1] = {0};
    set_netplan_setting(path(), NETWORK_CONFIG_TYPE::MODE, dhcp);
    EXPECT_EQ(netplan(), "# This is the network config written by 'subiquity'\n"
                         "network:\n"
                         "  ethernets:\n"
                         "    eth0:\n"
                         "      dhcp4: yes\n"
                         "      #addresses: [x.x.x.x/24]\n"
                         "      #gateway4: 10.0.0.1\n"
                         "      #nameservers:\n"
                         "        #addresses: [x.x.x.x,x.x.x.x]\n");
    char mode[1] = {7};
    get_netplan_setting(path(), NETWORK_CONFIG_TYPE::MODE, mode);
    EXPECT_EQ(mode[0], 0);
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::GATEWAY), "10.0.0.1");  // read from the commented line

    char static_mode[1] = {1};
    set_netplan_setting(path(), NETWORK_CONFIG_TYPE::MODE, static_mode);
    EXPECT_EQ(netplan(), with_gateway);
    get_netplan_setting(path(), NETWORK_CONFIG_TYPE::MODE, mode);
    EXPECT_EQ(mode[0], 1);
}

// --- files of an earlier version ------------------------------------------------

TEST_F(NetplanFile, AFileWithPlaceholdersIsReadAndItsNextEditBringsItIntoTheNewForm)
{
    network_mode = NETWORK_MODE::STATIC;
    const std::string old = "# This is the network config written by 'subiquity'\n"
                            "network:\n"
                            "  ethernets:\n"
                            "    eth0:\n"
                            "      dhcp4: no\n"
                            "      addresses: [192.0.2.10/24]\n"
                            "      gateway4: x.x.x.x\n"
                            "      nameservers:\n"
                            "        addresses: [192.0.2.53,x.x.x.x]\n";
    write_netplan(old);
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS1), "192.0.2.53");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::DNS2), "x.x.x.x");
    EXPECT_EQ(get_text(NETWORK_CONFIG_TYPE::GATEWAY), "x.x.x.x");
    EXPECT_EQ(netplan(), old);
    set_text(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.255.0");
    EXPECT_EQ(netplan(), "# This is the network config written by 'subiquity'\n"
                         "network:\n"
                         "  ethernets:\n"
                         "    eth0:\n"
                         "      dhcp4: no\n"
                         "      addresses: [192.0.2.10/24]\n"
                         "      #gateway4: x.x.x.x\n"
                         "      nameservers:\n"
                         "        addresses: [192.0.2.53]\n");
}

TEST_F(NetplanFile, ASettingWhoseLineIsMissingIsOneErrorLineAndNoWrite)
{
    write_netplan(netplan_dhcp_default_config);
    testing::internal::CaptureStdout();
    set_text(NETWORK_CONFIG_TYPE::GATEWAY, "10.0.0.1");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ERROR] set_Network_Config_Data: " + std::string(path()) +
                                                          " has no gateway4 line to set; nothing written\n");
    EXPECT_EQ(netplan(), netplan_dhcp_default_config);
}

TEST_F(NetplanFile, AnEditUncommentsItsLineFirst)
{
    write_netplan("network:\n  ethernets:\n    eth0:\n      dhcp4: yes\n      #gateway4: 1.2.3.4\n");
    set_text(NETWORK_CONFIG_TYPE::GATEWAY, "5.6.7.8");
    EXPECT_EQ(netplan(), "network:\n  ethernets:\n    eth0:\n      dhcp4: yes\n      gateway4: 5.6.7.8\n");
}

TEST_F(NetplanFile, UnknownTypesChangeNothing)
{
    write_netplan("dhcp4: yes\n");
    char text[100] = "untouched";
    EXPECT_EQ(set_netplan_setting(path(), static_cast<NETWORK_CONFIG_TYPE>(6), "1.2.3.4"), 0);
    EXPECT_EQ(get_netplan_setting(path(), static_cast<NETWORK_CONFIG_TYPE>(9), text), 0);
    EXPECT_EQ(netplan(), "dhcp4: yes\n");
    EXPECT_STREQ(text, "untouched");
}

TEST_F(NetplanFile, FilePermissionsSurviveAnEdit)
{
    write_netplan(netplan_dhcp_default_config);
    std::filesystem::permissions(path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    set_text(NETWORK_CONFIG_TYPE::DNS1, "9.9.9.9");
    EXPECT_EQ(std::filesystem::status(path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_NE(netplan().find("[9.9.9.9,8.8.8.8]"), std::string::npos);
}

TEST_F(NetplanFile, OverlongAddressLineIsLeftAloneRatherThanCut)
{
    const std::string text = "      addresses: [10.0.0.1/" + std::string(120, '2') + "]\n";
    write_netplan(text);
    set_text(NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.0.0.9");
    set_text(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.0.0.0");
    EXPECT_EQ(netplan(), text);
}
