// The board's dev/mem: the EEPROM window and its serial-number record.
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>

#include "board_fixture.h"

namespace {

using sim_test::BoardTest;

// The window as the daemon maps it: 512 bytes, read-only, private.
vboard::Bytes map_window(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    void* p = mmap(nullptr, vboard::eeprom_window_size, PROT_READ, MAP_PRIVATE, fd, vboard::eeprom_window_offset);
    vboard::Bytes window;
    if (p != MAP_FAILED) {
        const auto* bytes = static_cast<const uint8_t*>(p);
        window.assign(bytes, bytes + vboard::eeprom_window_size);
        munmap(p, vboard::eeprom_window_size);
    }
    close(fd);
    return window;
}

std::string serial_of(const vboard::Bytes& window)
{
    return reinterpret_cast<const char*>(window.data() + vboard::serial_record_offset + 1);
}

using Eeprom = BoardTest;

TEST_F(Eeprom, MapsAtTheWindowOffsetWithTheSerialRecord)
{
    const auto window = map_window(dev("mem"));
    ASSERT_EQ(window.size(), vboard::eeprom_window_size);
    EXPECT_EQ(window[vboard::serial_record_offset], 85);
    EXPECT_EQ(serial_of(window), "NRL-SIM-0001");
    EXPECT_EQ(window[0], 0);
    struct stat st;
    ASSERT_EQ(stat(dev("mem").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), vboard::eeprom_window_offset + vboard::eeprom_window_size);
}

TEST_F(Eeprom, ChangesAreSeenByTheNextMapping)
{
    board_->set_serial("ABC-123456789");
    EXPECT_EQ(serial_of(map_window(dev("mem"))), "ABC-123456789");
    board_->set_serial("XY");
    const auto window = map_window(dev("mem"));
    EXPECT_EQ(serial_of(window), "XY");
    EXPECT_EQ(window[vboard::serial_record_offset + 4], 0) << "the old text is cleared";
    board_->set_serial_code('V');
    EXPECT_EQ(map_window(dev("mem"))[vboard::serial_record_offset], 'V');
    board_->set_eeprom_bytes(510, {1, 2, 3});
    const auto end = map_window(dev("mem"));
    EXPECT_EQ(end[510], 1);
    EXPECT_EQ(end[511], 2);
}

TEST_F(Eeprom, IsReadOnlyAndZeroOutsideTheWindow)
{
    EXPECT_EQ(open(dev("mem").c_str(), O_RDWR | O_CLOEXEC), -1);
    EXPECT_EQ(errno, EACCES);
    const int fd = open(dev("mem").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char bytes[16];
    std::memset(bytes, 1, sizeof bytes);
    EXPECT_EQ(pread(fd, bytes, sizeof bytes, 4096), static_cast<ssize_t>(sizeof bytes));
    EXPECT_EQ(bytes[0], 0);
    close(fd);
}

TEST_F(Eeprom, CanBeAbsent)
{
    vboard::BoardOptions options;
    options.eeprom = false;
    board_.reset();
    mount(options);
    EXPECT_NE(access(dev("mem").c_str(), R_OK), 0);
    EXPECT_EQ(access(dev("i2c-0").c_str(), R_OK), 0);
}

}  // namespace
