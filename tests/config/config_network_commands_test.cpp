// The BMC's network commands against a netplan file in the case's own
// folder, with recording fakes of netplan and hostnamectl. Each case runs in
// its own process: the daemon's state is that right after its start.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <string>
#include <vector>

#include "netplan_fixture.h"

namespace {

using Calls = std::vector<std::string>;

const std::string static_file_text = "network:\n  ethernets:\n    eth0:\n      dhcp4: no\n"
                                     "      addresses: [192.168.7.2/24]\n      gateway4: 192.168.7.1\n";

bool call(bool (*command)(char*), std::string text) { return command(text.data()); }

// Runs the real netplan generator on a copy of the netplan file in a root of
// its own; true when it accepts the file.
bool netplan_generate_accepts(const nk_test::TempDir& dir, const std::string& file)
{
    const std::string root = dir.file("netplan-root");
    std::filesystem::create_directories(root + "/etc/netplan");
    const std::string copy = root + "/etc/netplan/99-netcfg.yaml";
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::string cmd = "/usr/sbin/netplan generate --root-dir '" + root + "' 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// --- mode -------------------------------------------------------------------

TEST_F(NetplanTest, ModeDhcpRightAfterStartKeepsAStaticFile)
{
    write_netplan(static_file_text);
    EXPECT_TRUE(set_network_mode(path(), 1));
    EXPECT_EQ(netplan(), static_file_text);
    EXPECT_EQ(get_Network_Mode(), static_cast<uint8_t>(NETWORK_MODE::DHCP));
}

TEST_F(NetplanTest, ModeStaticDeletesTheFileOnceAndTheNextAddressGetsTheStaticTemplate)
{
    write_netplan(static_file_text);
    EXPECT_TRUE(set_network_mode(path(), 0));
    EXPECT_FALSE(netplan_exists());

    write_netplan("kept\n");  // a second mode 0 must not delete again
    EXPECT_TRUE(set_network_mode(path(), 0));
    EXPECT_EQ(netplan(), "kept\n");
    std::remove(path());

    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.0.0.5"));
    EXPECT_EQ(netplan(), static_with("addresses: [x.x.x.x/24]", "addresses: [10.0.0.5/24]"));
}

TEST_F(NetplanTest, ModeTwoSwitchesToDhcpButReportsFalse)
{
    ASSERT_TRUE(set_network_mode(path(), 0));
    write_netplan_template(path());
    EXPECT_FALSE(set_network_mode(path(), 2));
    EXPECT_FALSE(netplan_exists());
    EXPECT_EQ(get_Network_Mode(), static_cast<uint8_t>(NETWORK_MODE::DHCP));
}

// --- address, gateway, netmask ---------------------------------------------

TEST_F(NetplanTest, AddressCommandsAreRefusedInDhcpModeAndTouchNothing)
{
    write_netplan(static_file_text);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(value(NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.0.0.5"));
    EXPECT_FALSE(value(NETWORK_CONFIG_TYPE::GATEWAY, "10.0.0.1"));
    EXPECT_FALSE(value(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.0.0"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(netplan(), static_file_text);
}

TEST_F(NetplanTest, AfterModeStaticAndOneAddressTheOtherLinesKeepTheirPlaceholders)
{
    ASSERT_TRUE(set_network_mode(path(), 0));
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::GATEWAY, "10.0.0.1"));
    EXPECT_EQ(netplan(), static_with("gateway4: x.x.x.x", "gateway4: 10.0.0.1"));
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.255"));
    EXPECT_NE(netplan().find("      addresses: [x.x.x.x/24]\n"), std::string::npos);
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.240.0"));
    EXPECT_NE(netplan().find("      addresses: [x.x.x.x/20]\n"), std::string::npos);
}

TEST_F(NetplanTest, AddressTextsThatAreNotDottedNumbersAreRefusedAndLogged)
{
    ASSERT_TRUE(set_network_mode(path(), 0));
    write_netplan_template(path());
    const std::string before = netplan();
    const std::vector<std::string> attacks = {
        "1.2.3.4]",
        "1.2.3.4\n      gateway4: 6.6.6.6",
        "1.2.3.4/8",
        "1.2.3.4,5.6.7.8",
        "1.2.3.4 ",
        "",
        "1111.2222.3333.4444",  // 19 characters
    };
    const NETWORK_CONFIG_TYPE commands[] = {NETWORK_CONFIG_TYPE::IP_ADDRESS, NETWORK_CONFIG_TYPE::GATEWAY,
                                            NETWORK_CONFIG_TYPE::SUBNETMASK, NETWORK_CONFIG_TYPE::DNS1,
                                            NETWORK_CONFIG_TYPE::DNS2};
    for (const auto& attack : attacks) {
        for (auto command : commands) {
            testing::internal::CaptureStdout();
            EXPECT_FALSE(value(command, attack)) << attack;
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(out.rfind("[ERROR] set_Config_", 0), 0u) << out;
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
    }
    EXPECT_EQ(netplan(), before);
    EXPECT_TRUE(fakes.calls().empty());
}

// --- name servers -----------------------------------------------------------

TEST_F(NetplanTest, NameServerCommandsWorkInDhcpModeOnTheDhcpFile)
{
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::DNS1, "9.9.9.9"));
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::DNS2, "149.112.112.112"));
    std::string expected = netplan_dhcp_default_config;
    expected.replace(expected.find("[1.1.1.1,8.8.8.8]"), 17, "[9.9.9.9,149.112.112.112]");
    EXPECT_EQ(netplan(), expected);
}

// --- apply ------------------------------------------------------------------

TEST_F(NetplanTest, ApplyWritesTheTemplateOfTheModeWhenMissingAndRunsNetplan)
{
    EXPECT_TRUE(apply_netplan(path()));
    EXPECT_EQ(netplan(), netplan_dhcp_default_config);
    ASSERT_TRUE(set_network_mode(path(), 0));
    EXPECT_TRUE(apply_netplan(path()));
    EXPECT_EQ(netplan(), netplan_static_default_config);
    EXPECT_EQ(fakes.calls(), (Calls{"netplan apply", "netplan apply"}));
}

// --- host name --------------------------------------------------------------

TEST_F(NetplanTest, HostNameRunsTheToolOncePerNewName)
{
    EXPECT_FALSE(call(set_Config_Hostname, "node-7"));
    EXPECT_FALSE(call(set_Config_Hostname, "node-7"));
    EXPECT_FALSE(call(set_Config_Hostname, "rack2.node-8"));
    EXPECT_FALSE(call(set_Config_Hostname, "node-7"));
    EXPECT_EQ(fakes.calls(), (Calls{"hostnamectl set-hostname node-7", "hostnamectl set-hostname rack2.node-8",
                                    "hostnamectl set-hostname node-7"}));
}

TEST_F(NetplanTest, EmptyHostNameRightAfterStartRunsNothing)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(call(set_Config_Hostname, ""));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fakes.calls().empty());
}

TEST_F(NetplanTest, InvalidHostNamesAreRefusedLoggedAndNotStored)
{
    ASSERT_FALSE(call(set_Config_Hostname, "node-1"));
    const std::vector<std::string> refused = {
        "a;touch pwned",
        "$(touch pwned)",
        "`touch pwned`",
        "node 1",
        "node-1\n",
        "-node",
        "node-",
        "a..b",
        "node.",
        std::string(64, 'a'),
        std::string(60, 'a') + ".bcde",
        "n\xc3\xa9ud",
    };
    for (const auto& name : refused) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(call(set_Config_Hostname, name));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("[ERROR] set_Config_Hostname: ", 0), 0u) << name;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
    // The stored name is still node-1: repeating it runs nothing.
    EXPECT_FALSE(call(set_Config_Hostname, "node-1"));
    EXPECT_EQ(fakes.calls(), (Calls{"hostnamectl set-hostname node-1"}));
    EXPECT_FALSE(nk_test::file_exists(dir.file("pwned")));
}

TEST_F(NetplanTest, LongestValidHostNameFitsTheCommandLine)
{
    const std::string longest = std::string(31, 'b') + "." + std::string(32, 'c');  // 64 characters
    EXPECT_FALSE(call(set_Config_Hostname, longest));
    EXPECT_EQ(fakes.calls(), (Calls{"hostnamectl set-hostname " + longest}));
}

TEST_F(NetplanTest, UnterminatedHostNameIsReadNoFurtherThanItsBound)
{
    char buffer[80];
    std::memset(buffer, 'a', sizeof buffer);  // no NUL anywhere
    EXPECT_FALSE(set_Config_Hostname(buffer));
    EXPECT_TRUE(fakes.calls().empty());
}

// --- the files the commands produce, checked by the real netplan -------------

TEST_F(NetplanTest, RealNetplanAcceptsTheStaticFileTheCommandsBuild)
{
    ASSERT_TRUE(set_network_mode(path(), 0));
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.20.30.40"));
    EXPECT_FALSE(netplan_generate_accepts(dir, path()));  // placeholders left: refused, as expected
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.0.0"));
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::GATEWAY, "10.20.0.1"));
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::DNS1, "10.20.0.2"));
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::DNS2, "10.20.0.3"));
    EXPECT_EQ(netplan(), "# This is the network config written by 'subiquity'\n"
                         "network:\n"
                         "  ethernets:\n"
                         "    eth0:\n"
                         "      dhcp4: no\n"
                         "      addresses: [10.20.30.40/16]\n"
                         "      gateway4: 10.20.0.1\n"
                         "      nameservers:\n"
                         "        addresses: [10.20.0.2,10.20.0.3]\n");
    EXPECT_TRUE(netplan_generate_accepts(dir, path()));
}

TEST_F(NetplanTest, RealNetplanAcceptsTheFileAfterASwitchBackToDhcp)
{
    ASSERT_TRUE(set_network_mode(path(), 0));
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.20.30.40"));
    ASSERT_TRUE(set_network_mode(path(), 1));
    ASSERT_TRUE(apply_netplan(path()));
    EXPECT_EQ(netplan(), netplan_dhcp_default_config);
    EXPECT_TRUE(netplan_generate_accepts(dir, path()));
}
