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
    EXPECT_EQ(netplan(), static_with("#addresses: [x.x.x.x/24]", "addresses: [10.0.0.5/24]"));
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

TEST_F(NetplanTest, AfterModeStaticTheValuesNotSetStayBehindTheirMark)
{
    ASSERT_TRUE(set_network_mode(path(), 0));
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::GATEWAY, "10.0.0.1"));
    EXPECT_EQ(netplan(), static_with("#gateway4: x.x.x.x", "gateway4: 10.0.0.1"));
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.255"));
    EXPECT_NE(netplan().find("      #addresses: [x.x.x.x/24]\n"), std::string::npos);
    EXPECT_TRUE(value(NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.240.0"));
    EXPECT_NE(netplan().find("      #addresses: [x.x.x.x/20]\n"), std::string::npos);
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

TEST_F(NetplanTest, ApplyRunsNetplanOnlyOnAFileNetplanAcceptsThatGivesAnAddress)
{
    // Missing: the template of the mode, checked by netplan generate in a
    // private folder (removed afterwards), then applied.
    EXPECT_TRUE(apply_netplan(path(), "run_Apply"));
    EXPECT_EQ(netplan(), netplan_dhcp_default_config);
    const auto calls = fakes.calls();
    EXPECT_EQ(nk_test::with_root_shown(calls), (Calls{nk_test::generate_call, "netplan apply"}));
    const std::string root = calls[0].substr(calls[0].rfind(' ') + 1);
    EXPECT_EQ(root.rfind(std::string(netplan_generate_folder) + "/", 0), 0u) << root;
    EXPECT_FALSE(nk_test::file_exists(root));

    struct Case {
        const char* file;
        const char* fail_call;
        std::string errors;  // what the failing call prints
        std::string log;
        Calls calls;
    };
    const std::string message = "/etc/netplan/99-netcfg.yaml:7:20: Error in network definition: malformed address";
    const Case cases[] = {
        {netplan_static_default_config,
         "none",
         "",
         std::string(path()) +
             " sets static addressing (dhcp4: no) but gives the interface no address; netplan apply not run",
         {}},
        // As netplan prints it: a warning first, the private root folder in
        // front of the path.
        {netplan_dhcp_default_config,
         "netplan generate",
         "** (generate:1): WARNING **: gateway4\n@ROOT@" + message,
         "netplan generate rejects the file: " + message + "; netplan apply not run",
         {nk_test::generate_call}},
        {netplan_dhcp_default_config,
         "netplan apply",
         message,
         "netplan apply failed (exit 1): " + message,
         {nk_test::generate_call, "netplan apply"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        write_netplan(c.file);
        std::remove(fakes.log().c_str());
        const nk_test::ScopedEnv fail("NK_FAKE_FAIL_CALL", c.fail_call);
        const nk_test::ScopedEnv output("NK_FAKE_STDERR", c.errors);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(apply_netplan(path(), "run_Apply"));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ERROR] run_Apply: " + c.log + "\n");
        EXPECT_EQ(nk_test::with_root_shown(fakes.calls()), c.calls);
    }
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

TEST_F(NetplanTest, AFailedHostNameIsNotStoredSoTheRetryRunsTheToolAgain)
{
    {
        const nk_test::ScopedEnv fail("NK_FAKE_EXIT", "1");
        const nk_test::ScopedEnv message("NK_FAKE_STDERR", "Could not set static hostname: Access denied");
        testing::internal::CaptureStdout();
        EXPECT_FALSE(call(set_Config_Hostname, "node-7"));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "[ERROR] set_Config_Hostname: hostnamectl set-hostname failed (exit 1): Could not set static "
                  "hostname: Access denied\n");
    }
    EXPECT_FALSE(call(set_Config_Hostname, "node-7"));
    EXPECT_FALSE(call(set_Config_Hostname, "node-7"));
    EXPECT_EQ(fakes.calls(), (Calls{"hostnamectl set-hostname node-7", "hostnamectl set-hostname node-7"}));
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
