// The onboard temperature sensor against the virtual board: finding the
// sensor, binding its driver, sampling and the change flag. Each case runs
// in a process of its own, so the module starts fresh every time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "sensor.h"
#include "sensor_internal.h"
#include "test_env.h"
#include "virtual_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using vboard::BoardOptions;
using vboard::TransactionKind;
using vboard::VirtualBoard;

const char* const found_4c = "[INFO] init_NAREL_Sensor: Onboard Temperature sensor address: 0x4C\n"
                             "[INFO] init_NAREL_Sensor: Narel Sensor init\n";
const char* const found_4d = "[INFO] init_NAREL_Sensor: Onboard Temperature sensor address: 0x4D\n"
                             "[INFO] init_NAREL_Sensor: Narel Sensor init\n";
const char* const not_found = "[ERROR] init_NAREL_Sensor: Onboard Temperature Sensor not found\n";

BoardOptions board_with(vboard::SensorSet present, vboard::SensorSet bound)
{
    BoardOptions options;
    options.prefix = NODEKEEPER_TEST_SYSROOT;
    options.sensors_present = present;
    options.sensors_bound = bound;
    return options;
}

// Runs init_NAREL_Sensor(); returns its log and how long it took.
std::string init_logged(Clock::duration& took)
{
    testing::internal::CaptureStdout();
    const auto start = Clock::now();
    init_NAREL_Sensor();
    took = Clock::now() - start;
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string init_logged()
{
    Clock::duration took{};
    return init_logged(took);
}

std::string hwmon_dir(uint8_t address)
{
    char path[200];
    snprintf(path, sizeof path, "%s/sys/class/i2c-adapter/i2c-0/0-00%2x/hwmon", NODEKEEPER_TEST_SYSROOT, address);
    return path;
}

// ----------------------------------------------------------------------------
// Finding the sensor
// ----------------------------------------------------------------------------

TEST(SensorInit, BoundAt4dOnlyNeedsNoBusAndNoWait)
{
    VirtualBoard board(board_with(vboard::SENSOR_4D, vboard::SENSOR_4D));
    Clock::duration took{};
    EXPECT_EQ(init_logged(took), found_4d);
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_TRUE(board.transactions().empty());
    EXPECT_FALSE(nk_test::file_exists(hwmon_dir(0x4c)));  // no driver instantiated

    update_Temperature();
    EXPECT_TRUE(get_Onboard_Temperature_Update_Flag());
    EXPECT_FLOAT_EQ(get_Onboard_Temperature(), 45.5f);
}

TEST(SensorInit, BoundAtBothTakes4c)
{
    VirtualBoard board(board_with(vboard::SENSOR_BOTH, vboard::SENSOR_BOTH));
    board.set_temperature(30000);
    Clock::duration took{};
    EXPECT_EQ(init_logged(took), found_4c);
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_TRUE(board.transactions().empty());
    update_Temperature();
    EXPECT_FLOAT_EQ(get_Onboard_Temperature(), 30.0f);
}

TEST(SensorInit, UnboundAtBothProbesAndBinds4cWithoutAFixedWait)
{
    VirtualBoard board(board_with(vboard::SENSOR_BOTH, vboard::SENSOR_NONE));
    Clock::duration took{};
    EXPECT_EQ(init_logged(took), found_4c);
    // The board's driver binds at once: start-up goes on as soon as its folder is there.
    EXPECT_LT(took, std::chrono::seconds(2));

    const auto transactions = board.transactions();
    ASSERT_EQ(transactions.size(), 1u);  // 0x4c answered: 0x4d is not asked
    EXPECT_EQ(transactions[0].kind, TransactionKind::PROBE);
    EXPECT_EQ(transactions[0].address, 0x4c);
    EXPECT_EQ(transactions[0].error, 0);
    EXPECT_TRUE(nk_test::file_exists(hwmon_dir(0x4c)));  // new_device was written
    EXPECT_FALSE(nk_test::file_exists(hwmon_dir(0x4d)));

    update_Temperature();
    EXPECT_FLOAT_EQ(get_Onboard_Temperature(), 45.5f);
    board.set_temperature(51250);
    update_Temperature();
    EXPECT_FLOAT_EQ(get_Onboard_Temperature(), 51.25f);
}

TEST(SensorInit, UnboundAt4dFallsBackToSecondAddress)
{
    VirtualBoard board(board_with(vboard::SENSOR_4D, vboard::SENSOR_NONE));
    EXPECT_EQ(init_logged(), found_4d);

    const auto transactions = board.transactions();
    ASSERT_EQ(transactions.size(), 2u);
    EXPECT_EQ(transactions[0].address, 0x4c);
    EXPECT_NE(transactions[0].error, 0);
    EXPECT_EQ(transactions[1].address, 0x4d);
    EXPECT_EQ(transactions[1].error, 0);
    EXPECT_TRUE(nk_test::file_exists(hwmon_dir(0x4d)));
    update_Temperature();
    EXPECT_FLOAT_EQ(get_Onboard_Temperature(), 45.5f);
}

TEST(SensorInit, NoSensorDisablesSampling)
{
    VirtualBoard board(board_with(vboard::SENSOR_NONE, vboard::SENSOR_NONE));
    Clock::duration took{};
    EXPECT_EQ(init_logged(took), not_found);
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(board.transactions().size(), 2u);  // both addresses probed

    // A sensor appearing later is not picked up.
    board.add_sensor(0x4c, true);
    for (int i = 0; i < 2; ++i) {
        update_Temperature();
        EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());
        EXPECT_EQ(get_Onboard_Temperature(), 0.0f);
    }
}

TEST(SensorInit, NoBusDeviceMeansNotFound)
{
    // No board mounted: the I2C device cannot be opened for either probe.
    const std::string open_error = std::string("[ERROR] get_I2C_Slave_Check: i2c file open error!: ") +
                                   NODEKEEPER_TEST_SYSROOT + "/dev/i2c-0: No such file or directory\n";
    EXPECT_EQ(init_logged(), open_error + open_error + not_found);
    update_Temperature();
    EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());
}

// The driver's hwmon folder is looked for every 20 ms, up to the time given.
TEST(SensorInit, WaitForHwmonEndsWhenTheFolderAppearsOrAtItsTimeOut)
{
    VirtualBoard board(board_with(vboard::SENSOR_4C, vboard::SENSOR_NONE));
    auto start = Clock::now();
    EXPECT_FALSE(wait_for_hwmon(0x4c, std::chrono::milliseconds(200)));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));

    // The clock starts before the thread does, so the folder cannot appear
    // less than 150 ms after it.
    start = Clock::now();
    std::thread kernel([&board] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        board.add_sensor(0x4c, true);
    });
    EXPECT_TRUE(wait_for_hwmon(0x4c, std::chrono::seconds(5)));
    const auto took = Clock::now() - start;
    kernel.join();
    EXPECT_GE(took, std::chrono::milliseconds(150));
    EXPECT_LT(took, std::chrono::seconds(2));
}

// ----------------------------------------------------------------------------
// Sampling and the change flag
// ----------------------------------------------------------------------------

class SensorSampling : public testing::Test {
protected:
    VirtualBoard board_{board_with(vboard::SENSOR_4C, vboard::SENSOR_4C)};
    void SetUp() override { ASSERT_EQ(init_logged(), found_4c); }
};

TEST_F(SensorSampling, MillidegreesToDegrees)
{
    update_Temperature();
    EXPECT_TRUE(get_Onboard_Temperature_Update_Flag());
    EXPECT_EQ(get_Onboard_Temperature(), 45.5f);

    board_.set_temperature(-1250);
    update_Temperature();
    EXPECT_TRUE(get_Onboard_Temperature_Update_Flag());
    EXPECT_EQ(get_Onboard_Temperature(), -1.25f);

    // The driver goes away: the reading prints nothing and counts as 0.0.
    board_.remove_sensor(0x4c);
    update_Temperature();
    EXPECT_TRUE(get_Onboard_Temperature_Update_Flag());
    EXPECT_EQ(get_Onboard_Temperature(), 0.0f);
}

TEST_F(SensorSampling, FlagSemantics)
{
    EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());
    update_Temperature();
    update_Temperature();  // same reading twice: one raised flag
    EXPECT_TRUE(get_Onboard_Temperature_Update_Flag());
    EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());
    update_Temperature();
    EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());

    // Several changes between two reads leave one raised flag and the latest.
    board_.set_temperature(46000);
    update_Temperature();
    board_.set_temperature(47000);
    update_Temperature();
    EXPECT_TRUE(get_Onboard_Temperature_Update_Flag());
    EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());
    EXPECT_EQ(get_Onboard_Temperature(), 47.0f);
}

TEST_F(SensorSampling, FirstReadingOfZeroRaisesNothing)
{
    board_.set_temperature(0);
    update_Temperature();
    EXPECT_FALSE(get_Onboard_Temperature_Update_Flag());
    EXPECT_EQ(get_Onboard_Temperature(), 0.0f);
}

}  // namespace
