// Default-route address tracking against a routing table written into the
// case's own temporary folder. The loopback interface is the one interface
// with an address that every host has.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "config_internal.h"
#include "test_env.h"

namespace {

const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
// Default route via loopback.
const std::string lo_default = "lo\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
// Directly connected network: only the gateway field is all zeros.
const std::string lo_connected = "lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n";
// A route without any all-zero field.
const std::string no_zero_field = "lo\t0001A8C0\t0101A8C0\t0003\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";

std::string route_on(const std::string& if_name)
{
    return if_name + "\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
}

std::string address_text()
{
    char buffer[100];
    memset(buffer, 'x', sizeof buffer);
    const int length = get_Config_Default_IP_Address(buffer, sizeof buffer);
    EXPECT_EQ(length, static_cast<int>(strlen(buffer)));
    return buffer;
}

const char* const log_127 = "[INFO] update_Config_Default_IP_Address: Default IP: 127.0.0.1\n";
const char* const log_zero = "[INFO] update_Config_Default_IP_Address: Default IP: 0.0.0.0\n";

class DefaultIp : public testing::Test {
protected:
    std::string route_path() const { return dir.file("route"); }
    void write_routes(const std::string& lines) { nk_test::write_file(route_path(), header + lines); }

    // Runs the address update on the case's table and returns what it logged.
    std::string update_logged(bool& changed)
    {
        testing::internal::CaptureStdout();
        changed = update_default_ip_address(route_path().c_str());
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    nk_test::TempDir dir;
};

TEST_F(DefaultIp, NoRouteKeepsZeroAddressSilently)
{
    bool changed = true;
    EXPECT_EQ(update_logged(changed), "");  // no routing table at all
    EXPECT_FALSE(changed);
    write_routes("");
    EXPECT_EQ(update_logged(changed), "");
    EXPECT_FALSE(changed);
    write_routes(no_zero_field);
    EXPECT_EQ(update_logged(changed), "");
    EXPECT_FALSE(changed);
    EXPECT_FALSE(get_Config_Default_IP_Address_Update_Flag());
    EXPECT_EQ(address_text(), "0.0.0.0");
    char buffer[100] = {};
    EXPECT_EQ(get_Config_Default_IP_Address(buffer, sizeof buffer), 7);
}

TEST_F(DefaultIp, DefaultRouteIsLoggedOnce)
{
    write_routes(lo_default);
    bool changed = false;
    EXPECT_EQ(update_logged(changed), log_127);
    EXPECT_TRUE(changed);
    EXPECT_EQ(address_text(), "127.0.0.1");
    EXPECT_EQ(update_logged(changed), "");
    EXPECT_FALSE(changed);
    // One change, one raised flag, read once.
    EXPECT_TRUE(get_Config_Default_IP_Address_Update_Flag());
    EXPECT_FALSE(get_Config_Default_IP_Address_Update_Flag());
}

TEST_F(DefaultIp, RemovedRouteFallsBackToZero)
{
    write_routes(lo_default);
    bool changed = false;
    update_logged(changed);
    EXPECT_TRUE(get_Config_Default_IP_Address_Update_Flag());

    write_routes(no_zero_field);
    EXPECT_EQ(update_logged(changed), log_zero);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(get_Config_Default_IP_Address_Update_Flag());
    EXPECT_EQ(address_text(), "0.0.0.0");
}

TEST_F(DefaultIp, UnreadableTableKeepsTheAddress)
{
    write_routes(lo_default);
    bool changed = false;
    update_logged(changed);
    remove(route_path().c_str());
    EXPECT_EQ(update_logged(changed), "");
    EXPECT_FALSE(changed);
    EXPECT_EQ(address_text(), "127.0.0.1");
}

TEST_F(DefaultIp, ConnectedNetworkCounts)
{
    write_routes(no_zero_field + lo_connected);
    bool changed = false;
    EXPECT_EQ(update_logged(changed), log_127);
    EXPECT_TRUE(changed);
}

TEST_F(DefaultIp, OnlyTheFirstMatchingLineIsUsed)
{
    // The first matching route's interface does not exist: its address is
    // 0.0.0.0 even though a later route would give one.
    write_routes(route_on("nk-no-such-if") + lo_default);
    bool changed = true;
    EXPECT_EQ(update_logged(changed), "");
    EXPECT_FALSE(changed);
    EXPECT_EQ(address_text(), "0.0.0.0");
}

TEST_F(DefaultIp, LongInterfaceNameIsCut)
{
    write_routes(lo_default);
    bool changed = false;
    update_logged(changed);
    // 40 characters: only 15 reach the request; no such interface exists.
    write_routes(route_on(std::string(40, 'n')));
    EXPECT_EQ(update_logged(changed), log_zero);
    EXPECT_TRUE(changed);
}

TEST_F(DefaultIp, AddressCopyIsCutAndTerminated)
{
    write_routes(lo_default);
    bool changed = false;
    update_logged(changed);

    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(get_Config_Default_IP_Address(buffer, 4), 3);
    EXPECT_STREQ(buffer, "127");
    EXPECT_EQ(buffer[4], 'x');  // nothing beyond buffer_length is written
    EXPECT_EQ(get_Config_Default_IP_Address(buffer, 0), 0);

    char padded[100];
    memset(padded, 'x', sizeof padded);
    EXPECT_EQ(get_Config_Default_IP_Address(padded, sizeof padded), 9);
    for (size_t i = 9; i < sizeof padded; ++i) {
        ASSERT_EQ(padded[i], '\0') << i;
    }
}

}  // namespace
