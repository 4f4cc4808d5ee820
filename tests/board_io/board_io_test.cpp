// Sysfs GPIO access: the exact bytes each operation writes under
// sys/class/gpio of the virtual board, the levels it reads and its log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "board_io.h"
#include "virtual_board.h"

namespace {

using Writes = std::vector<std::pair<std::string, std::string>>;

const std::string prefix = NODEKEEPER_TEST_SYSROOT;

std::string bytes(const char* text, size_t count) { return std::string(text, count); }

class BoardIoTest : public ::testing::Test {
protected:
    void mount(std::vector<int> exported = {})
    {
        vboard::BoardOptions options;
        options.prefix = prefix;
        options.exported_gpios = std::move(exported);
        board_ = std::make_unique<vboard::VirtualBoard>(options);
    }
    // Path and bytes of every write under sys/class/gpio so far.
    Writes writes() const
    {
        Writes result;
        for (const auto& w : board_->gpio_writes()) {
            result.emplace_back(w.path, w.bytes);
        }
        return result;
    }
    static void capture() { testing::internal::CaptureStdout(); }
    static std::string captured()
    {
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    std::unique_ptr<vboard::VirtualBoard> board_;
};

// --- init_GPIO ---------------------------------------------------------------

TEST_F(BoardIoTest, InitInputOnUnexportedLineWritesExportDirectionPolarityEdge)
{
    mount();
    capture();
    init_GPIO(480, GPIO_DIR::IN, GPIO_EDGE::NONE, false);
    EXPECT_EQ(captured(), "");
    EXPECT_EQ(writes(), (Writes{{"/sys/class/gpio/export", bytes("480", 4)},
                                {"/sys/class/gpio/gpio480/direction", bytes("in", 3)},
                                {"/sys/class/gpio/gpio480/active_low", bytes("0", 2)},
                                {"/sys/class/gpio/gpio480/edge", "none"}}));
}

TEST_F(BoardIoTest, InitOutputWritesItsLevelAndNoEdge)
{
    mount();
    init_GPIO(17, GPIO_DIR::OUT, GPIO_EDGE::BOTH, true);
    init_GPIO(18, GPIO_DIR::OUT, GPIO_EDGE::RISING, false);
    EXPECT_EQ(writes(), (Writes{{"/sys/class/gpio/export", bytes("17", 3)},
                                {"/sys/class/gpio/gpio17/direction", bytes("out", 4)},
                                {"/sys/class/gpio/gpio17/active_low", bytes("0", 2)},
                                {"/sys/class/gpio/gpio17/value", bytes("1", 2)},
                                {"/sys/class/gpio/export", bytes("18", 3)},
                                {"/sys/class/gpio/gpio18/direction", bytes("out", 4)},
                                {"/sys/class/gpio/gpio18/active_low", bytes("0", 2)},
                                {"/sys/class/gpio/gpio18/value", bytes("0", 2)}}));
    EXPECT_TRUE(get_GPIO_Value(17));
    EXPECT_FALSE(get_GPIO_Value(18));
}

TEST_F(BoardIoTest, InitOnExportedLineWritesNothing)
{
    mount({480, 12});
    capture();
    init_GPIO(480, GPIO_DIR::IN, GPIO_EDGE::NONE, false);
    init_GPIO(480, GPIO_DIR::OUT, GPIO_EDGE::BOTH, true);
    init_GPIO(12, GPIO_DIR::IN, GPIO_EDGE::FALLING, true);
    EXPECT_EQ(captured(), "");
    EXPECT_TRUE(writes().empty());
}

TEST_F(BoardIoTest, InitWhoseExportIsRefusedGoesOnAndLogsEachFailure)
{
    mount();
    capture();
    init_GPIO(600, GPIO_DIR::IN, GPIO_EDGE::RISING, false);  // the board has lines 0..511
    const std::string gpio = prefix + "/sys/class/gpio/";
    EXPECT_EQ(
        captured(),
        "[ERROR] init_GPIO: write error: " + gpio + "export: Invalid argument\n" +
            "[ERROR] set_GPIO_Direction: open() error: " + gpio + "gpio600/direction: No such file or directory\n" +
            "[ERROR] set_GPIO_Active_Low: open() error: " + gpio + "gpio600/active_low: No such file or directory\n" +
            "[ERROR] set_GPIO_Edge: open() error: " + gpio + "gpio600/edge: No such file or directory\n");
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].second, bytes("600", 4));
}

TEST_F(BoardIoTest, InitWithoutExportFileLogsOneWholeLineAndStops)
{
    // No board mounted: nothing exists under the prefix's sys tree.
    capture();
    init_GPIO(480, GPIO_DIR::OUT, GPIO_EDGE::NONE, true);
    EXPECT_EQ(captured(),
              "[ERROR] init_GPIO: open() error: " + prefix + "/sys/class/gpio/export: No such file or directory\n");
}

TEST_F(BoardIoTest, QuietEdgeInputLogsNothingAndReportsTheFailure)
{
    capture();
    EXPECT_EQ(init_gpio_edge_input(480, GPIO_EDGE::FALLING, Gpio_Logging::QUIET), Gpio_Edge_Result::FAILED);
    mount();
    EXPECT_EQ(init_gpio_edge_input(600, GPIO_EDGE::FALLING, Gpio_Logging::QUIET), Gpio_Edge_Result::FAILED);
    EXPECT_EQ(init_gpio_edge_input(480, GPIO_EDGE::FALLING, Gpio_Logging::QUIET), Gpio_Edge_Result::SELECTED);
    EXPECT_EQ(captured(), "");
}

// --- setters -----------------------------------------------------------------

TEST_F(BoardIoTest, SettersWriteTheirWordsWithOrWithoutNul)
{
    mount({5});
    set_GPIO_Direction(5, GPIO_DIR::OUT);
    set_GPIO_Value(5, true);
    set_GPIO_Value(5, false);
    set_GPIO_Direction(5, static_cast<GPIO_DIR>(7));
    set_GPIO_Active_Low(5, true);
    set_GPIO_Active_Low(5, false);
    set_GPIO_Edge(5, GPIO_EDGE::NONE);
    set_GPIO_Edge(5, GPIO_EDGE::RISING);
    set_GPIO_Edge(5, GPIO_EDGE::FALLING);
    set_GPIO_Edge(5, GPIO_EDGE::BOTH);
    set_GPIO_Edge(5, static_cast<GPIO_EDGE>(4));  // no such edge: nothing written
    const std::string d = "/sys/class/gpio/gpio5/";
    EXPECT_EQ(writes(), (Writes{{d + "direction", bytes("out", 4)},
                                {d + "value", bytes("1", 2)},
                                {d + "value", bytes("0", 2)},
                                {d + "direction", bytes("in", 3)},
                                {d + "active_low", bytes("1", 2)},
                                {d + "active_low", bytes("0", 2)},
                                {d + "edge", "none"},
                                {d + "edge", "rising"},
                                {d + "edge", "falling"},
                                {d + "edge", "both"}}));
}

TEST_F(BoardIoTest, SetterFailuresAreLogged)
{
    mount({5});
    capture();
    set_GPIO_Value(5, true);              // an input: the board refuses the value
    set_GPIO_Direction(6, GPIO_DIR::IN);  // not exported: no such file
    set_GPIO_Edge(6, GPIO_EDGE::BOTH);
    set_GPIO_Active_Low(6, true);
    set_GPIO_Value(6, true);
    const std::string gpio = prefix + "/sys/class/gpio/";
    const std::string missing = ": No such file or directory\n";
    EXPECT_EQ(captured(), "[ERROR] set_GPIO_Value: write error: " + gpio + "gpio5/value: Operation not permitted\n" +
                              "[ERROR] set_GPIO_Direction: open() error: " + gpio + "gpio6/direction" + missing +
                              "[ERROR] set_GPIO_Edge: open() error: " + gpio + "gpio6/edge" + missing +
                              "[ERROR] set_GPIO_Active_Low: open() error: " + gpio + "gpio6/active_low" + missing +
                              "[ERROR] set_GPIO_Value: open() error: " + gpio + "gpio6/value" + missing);
}

// --- get_GPIO_Value ----------------------------------------------------------

TEST_F(BoardIoTest, ValueFollowsTheAttentionLine)
{
    mount({480});
    EXPECT_TRUE(get_GPIO_Value(480));
    board_->queue_bmc_frame({3, 0, 1});
    EXPECT_FALSE(get_GPIO_Value(480));
    set_GPIO_Active_Low(480, true);
    EXPECT_TRUE(get_GPIO_Value(480));
}

TEST_F(BoardIoTest, MissingValueFileGivesFalseAndLogsTheReason)
{
    mount();
    capture();
    EXPECT_FALSE(get_GPIO_Value(33));
    EXPECT_EQ(captured(), "[ERROR] get_GPIO_Value: open() error, No such file or directory: " + prefix +
                              "/sys/class/gpio/gpio33/value\n");
}

// --- get_GPIO_Path -----------------------------------------------------------

TEST(GpioPath, ValueAndDirectoryPaths)
{
    char buffer[gpio_path_buffer_size];
    EXPECT_EQ(get_GPIO_Path(480, buffer, GPIO_FILE_TYEP::VALUE), prefix.size() + 29);
    EXPECT_EQ(std::string(buffer), prefix + "/sys/class/gpio/gpio480/value");
    EXPECT_EQ(get_GPIO_Path(480, buffer, GPIO_FILE_TYEP::NONE), prefix.size() + 23);
    EXPECT_EQ(std::string(buffer), prefix + "/sys/class/gpio/gpio480");
    EXPECT_EQ(get_GPIO_Path(480, buffer, static_cast<GPIO_FILE_TYEP>(9)), prefix.size() + 23);
    EXPECT_EQ(std::string(buffer), prefix + "/sys/class/gpio/gpio480");
}

TEST(GpioPath, EverySuffix)
{
    const std::vector<std::pair<GPIO_FILE_TYEP, std::string>> suffixes = {{GPIO_FILE_TYEP::ACTIVE_LOW, "/active_low"},
                                                                          {GPIO_FILE_TYEP::DIRECTION, "/direction"},
                                                                          {GPIO_FILE_TYEP::EDGE, "/edge"},
                                                                          {GPIO_FILE_TYEP::UEVENT, "/uevent"},
                                                                          {GPIO_FILE_TYEP::VALUE, "/value"}};
    for (const auto& s : suffixes) {
        char buffer[gpio_path_buffer_size];
        const std::string expected = prefix + "/sys/class/gpio/gpio7" + s.second;
        EXPECT_EQ(get_GPIO_Path(7, buffer, s.first), expected.size());
        EXPECT_EQ(std::string(buffer), expected);
    }
}

TEST(GpioPath, LongestPathFitsItsBuffer)
{
    // One spare byte guarded: nothing may be written past the path's NUL.
    char buffer[gpio_path_buffer_size + 1];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(get_GPIO_Path(-2147483647 - 1, buffer, GPIO_FILE_TYEP::ACTIVE_LOW), prefix.size() + 42);
    EXPECT_EQ(std::string(buffer), prefix + "/sys/class/gpio/gpio-2147483648/active_low");
    EXPECT_EQ(buffer[gpio_path_buffer_size], '#');
}

}  // namespace
