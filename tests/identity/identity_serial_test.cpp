// Serial number from the EEPROM window of the virtual board's dev/mem.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config.h"
#include "virtual_board.h"

namespace {

using vboard::BoardOptions;
using vboard::VirtualBoard;

BoardOptions board_with_serial(const std::string& serial)
{
    BoardOptions options;
    options.prefix = NODEKEEPER_TEST_SYSROOT;
    options.sensors_present = vboard::SENSOR_NONE;
    options.serial = serial;
    return options;
}

// Runs get_Config_Serial_Number() on a buffer of `length` bytes (filled
// with 'x' first); returns the text and checks that it is terminated.
std::string serial_of(unsigned int length, int& result, std::string* log = nullptr)
{
    std::string buffer(length + 1, 'x');
    testing::internal::CaptureStdout();
    result = get_Config_Serial_Number(buffer.data(), length);
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    if (log != nullptr) {
        *log = out;
    }
    EXPECT_EQ(buffer[length], 'x');  // nothing written beyond the buffer
    const size_t end = buffer.find('\0');
    EXPECT_LT(end, static_cast<size_t>(length));
    return buffer.substr(0, end);
}

TEST(SerialNumber, RecordWithCode)
{
    VirtualBoard board(board_with_serial("SN0123456789"));
    int result = 0;
    std::string log;
    EXPECT_EQ(serial_of(100, result, &log), "SN0123456789");
    EXPECT_EQ(result, 12);
    EXPECT_EQ(log, "");
}

TEST(SerialNumber, WrongCodeGivesNotAvailable)
{
    VirtualBoard board(board_with_serial("SN0123456789"));
    board.set_serial_code(0x54);
    int result = 0;
    std::string log;
    EXPECT_EQ(serial_of(100, result, &log), "N/A");
    EXPECT_EQ(result, 3);
    EXPECT_EQ(log, "");
    // The window is released each time: the next read sees the new record.
    board.set_serial("SN-AFTER");
    EXPECT_EQ(serial_of(100, result), "SN-AFTER");
}

TEST(SerialNumber, NoDeviceGivesNotAvailableSilently)
{
    BoardOptions options = board_with_serial("SN0123456789");
    options.eeprom = false;
    VirtualBoard board(options);
    int result = 0;
    std::string log;
    EXPECT_EQ(serial_of(100, result, &log), "N/A");
    EXPECT_EQ(result, 3);
    EXPECT_EQ(log, "");
}

TEST(SerialNumber, LongTextsAreCutAndTerminated)
{
    VirtualBoard board(board_with_serial(std::string(150, 's')));
    int result = 0;
    EXPECT_EQ(serial_of(100, result), std::string(99, 's'));
    EXPECT_EQ(result, 99);
    EXPECT_EQ(serial_of(12, result), std::string(11, 's'));
    EXPECT_EQ(result, 11);
    EXPECT_EQ(serial_of(3, result), "ss");  // and "N/A" would be cut alike
    board.set_serial_code(0);
    EXPECT_EQ(serial_of(3, result), "N/");
    EXPECT_EQ(result, 2);
}

TEST(SerialNumber, RecordRunningToTheWindowEnd)
{
    VirtualBoard board(board_with_serial(""));
    // Code byte, then text up to the last byte of the window, no NUL.
    vboard::Bytes record(vboard::eeprom_window_size - vboard::serial_record_offset, 'a');
    record[0] = vboard::serial_record_code;
    board.set_eeprom_bytes(vboard::serial_record_offset, record);
    int result = 0;
    // 431 characters: the length is not counted in a byte.
    EXPECT_EQ(serial_of(512, result), std::string(431, 'a'));
    EXPECT_EQ(result, 431);
}

}  // namespace
