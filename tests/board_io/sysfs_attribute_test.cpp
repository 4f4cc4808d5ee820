// The sysfs attribute reader on plain files in a fresh folder: the text up to
// its line feed, empty and missing files, the size limit, and re-reading an
// open descriptor from offset 0; and the sensor's parse of the text it reads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "sensor_internal.h"
#include "sysfs_attribute.h"
#include "test_env.h"

namespace {

TEST(SysfsAttribute, TextEndsAtTheLineFeedAndFailuresLeaveItEmpty)
{
    nk_test::TempDir dir;
    char text[16];
    int error = 0;
    nk_test::write_file(dir.file("temp2_input"), "45500\n");
    EXPECT_EQ(read_sysfs_attribute(dir.file("temp2_input").c_str(), text, sizeof text, &error), Sysfs_Status::DONE);
    EXPECT_STREQ(text, "45500");

    nk_test::write_file(dir.file("empty"), "");
    EXPECT_EQ(read_sysfs_attribute(dir.file("empty").c_str(), text, sizeof text, &error), Sysfs_Status::DONE);
    EXPECT_STREQ(text, "");

    // At most size - 1 bytes: a 2-byte buffer holds the level of a value file.
    nk_test::write_file(dir.file("long"), "1234567890123456789\n");
    char level[2];
    EXPECT_EQ(read_sysfs_attribute(dir.file("long").c_str(), level, sizeof level, &error), Sysfs_Status::DONE);
    EXPECT_STREQ(level, "1");

    EXPECT_EQ(read_sysfs_attribute(dir.file("missing").c_str(), text, sizeof text, &error), Sysfs_Status::OPEN_FAILED);
    EXPECT_EQ(error, ENOENT);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(read_sysfs_attribute(dir.path().c_str(), text, sizeof text, &error), Sysfs_Status::READ_FAILED);
    EXPECT_EQ(error, EISDIR);
    EXPECT_STREQ(text, "");
}

TEST(SysfsAttribute, WriterPutsTheBytesAsGivenAndNamesAFailedOpen)
{
    nk_test::TempDir dir;
    nk_test::write_file(dir.file("new_device"), "");
    int error = 0;
    EXPECT_EQ(write_sysfs_attribute(dir.file("new_device").c_str(), "adm1032 0x4c\n", 13, &error), Sysfs_Status::DONE);
    EXPECT_EQ(nk_test::read_file(dir.file("new_device")), "adm1032 0x4c\n");
    EXPECT_EQ(write_sysfs_attribute(dir.file("no/such").c_str(), "1", 1, &error), Sysfs_Status::OPEN_FAILED);
    EXPECT_EQ(error, ENOENT);
}

TEST(SysfsAttribute, OpenDescriptorIsReadFromTheStartEachTime)
{
    nk_test::TempDir dir;
    nk_test::write_file(dir.file("value"), "1\n");
    const int fd = open(dir.file("value").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char text[4];
    EXPECT_EQ(read_sysfs_attribute_at(fd, text, sizeof text), 2);
    EXPECT_STREQ(text, "1");
    nk_test::write_file(dir.file("value"), "0\n");
    EXPECT_EQ(read_sysfs_attribute_at(fd, text, sizeof text), 2);
    EXPECT_STREQ(text, "0");
    close(fd);
    EXPECT_EQ(read_sysfs_attribute_at(fd, text, sizeof text), -1);
    EXPECT_STREQ(text, "");
}

TEST(HwmonReading, MillidegreeTextGivesDegrees)
{
    EXPECT_EQ(parse_temperature_text("45500"), 45.5f);
    EXPECT_EQ(parse_temperature_text(" -1250"), -1.25f);
    EXPECT_EQ(parse_temperature_text("51250 trailing"), 51.25f);
    // What an absent or unreadable file leaves (an empty text), and text
    // that is no number, read as 0.0: no reading is invented.
    EXPECT_EQ(parse_temperature_text(""), 0.0f);
    EXPECT_EQ(parse_temperature_text("N/A"), 0.0f);
}

}  // namespace
