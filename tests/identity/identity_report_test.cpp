// Node identity texts, the OS description from the lsb_release fake, and
// the report files for mail notices (written into a temporary folder given
// as TMPDIR).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "config_internal.h"
#include "test_env.h"

namespace {

using nk_test::FakeCommands;
using nk_test::ScopedEnv;
using nk_test::TempDir;

// ----------------------------------------------------------------------------
// Fixed texts
// ----------------------------------------------------------------------------

TEST(FixedTexts, ProductNameAndVersion)
{
    char buffer[100];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(get_Config_Product_Name(buffer), 11);
    EXPECT_STREQ(buffer, "Tovana Ruvo");
    EXPECT_EQ(buffer[12], 'x');  // 12 bytes written: a 12-byte buffer suffices
    memset(buffer, 'x', sizeof buffer);
    const std::string version = "V" NODEKEEPER_VERSION;
    EXPECT_EQ(get_Config_Version(buffer), static_cast<int>(version.size()));
    EXPECT_EQ(buffer, version);
    EXPECT_EQ(buffer[version.size() + 1], 'x');
}

// ----------------------------------------------------------------------------
// OS description
// ----------------------------------------------------------------------------

class OsInfo : public testing::Test {
protected:
    TempDir dir_;
    FakeCommands fakes_{dir_};

    std::string os_info(int& length)
    {
        char buffer[100];
        memset(buffer, 'x', sizeof buffer);
        length = get_Config_OS_Info(buffer);
        EXPECT_NE(memchr(buffer, '\0', sizeof buffer), nullptr);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
};

TEST_F(OsInfo, DescriptionBehindTheTab)
{
    ScopedEnv text("NK_FAKE_LSB_DESCRIPTION", "Ubuntu 22.04.4 LTS");
    int length = 0;
    EXPECT_EQ(os_info(length), "Ubuntu 22.04.4 LTS");
    EXPECT_EQ(length, 18);
    EXPECT_EQ(fakes_.calls(), std::vector<std::string>{"lsb_release -d"});
}

TEST_F(OsInfo, LastLineWithoutCarriageReturn)
{
    ScopedEnv raw("NK_FAKE_LSB_RAW", "No LSB modules are available.\nDescription:\tDebian 12\r\n");
    int length = 0;
    EXPECT_EQ(os_info(length), "Debian 12");
    EXPECT_EQ(length, 9);
}

TEST_F(OsInfo, NoTabGivesEmptyText)
{
    int length = -1;
    {
        ScopedEnv raw("NK_FAKE_LSB_RAW", "Description: Debian 12\n");
        EXPECT_EQ(os_info(length), "");
        EXPECT_EQ(length, 0);
    }
    ScopedEnv raw("NK_FAKE_LSB_RAW", "");
    EXPECT_EQ(os_info(length), "");
    EXPECT_EQ(length, 0);
}

TEST_F(OsInfo, FromOsReleaseWhenLsbReleaseGivesNoneSaidOnce)
{
    const std::string os_release = dir_.file("os-release");
    nk_test::write_file(os_release, "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    const std::string missing = dir_.file("missing");
    char buffer[100];
    // Missing (a minimal system), failing, and printing no description.
    testing::internal::CaptureStdout();
    {
        ScopedEnv no_tools("PATH", dir_.path());
        EXPECT_EQ(read_os_description(buffer, os_release.c_str(), missing.c_str()), 30);
        EXPECT_STREQ(buffer, "Debian GNU/Linux 12 (bookworm)");
    }
    {
        ScopedEnv fail("NK_FAKE_EXIT", "1");
        read_os_description(buffer, missing.c_str(), os_release.c_str());
        EXPECT_STREQ(buffer, "Debian GNU/Linux 12 (bookworm)");
    }
    ScopedEnv raw("NK_FAKE_LSB_RAW", "No LSB modules are available.\n");
    read_os_description(buffer, os_release.c_str(), missing.c_str());
    EXPECT_STREQ(buffer, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[INFO] get_Config_OS_Info: lsb_release -d gives no description (lsb_release -d could not be started: "
              "No such file or directory); the description comes from os-release (PRETTY_NAME)\n");
    EXPECT_EQ(read_os_description(buffer, missing.c_str(), missing.c_str()), 0);
}

TEST(OsRelease, PrettyNameAsTheShellReadsIt)
{
    EXPECT_EQ(parse_os_release_name("ID=debian\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\r\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(parse_os_release_name("PRETTY_NAME='Single \\x'\n"), "Single \\x");
    EXPECT_EQ(parse_os_release_name("PRETTY_NAME=\"A \\\"quoted\\\" \\$name\"\n"), "A \"quoted\" $name");
    EXPECT_EQ(parse_os_release_name("PRETTY_NAME=Plain\n"), "Plain");
    EXPECT_EQ(parse_os_release_name("NAME=x\n#PRETTY_NAME=y\n"), std::nullopt);
    EXPECT_EQ(parse_os_release_name("PRETTY_NAME=\"\"\n"), std::nullopt);
}

TEST_F(OsInfo, LongDescriptionIsCutToTheBuffer)
{
    // Longest description whose output line fits the 128-byte command
    // result: label, TAB, 113 characters, LF.
    const std::string long_text(113, 'd');
    ScopedEnv text("NK_FAKE_LSB_DESCRIPTION", long_text);
    int length = 0;
    EXPECT_EQ(os_info(length), long_text.substr(0, 99));
    EXPECT_EQ(length, 99);
}

// ----------------------------------------------------------------------------
// Report files
// ----------------------------------------------------------------------------

template <size_t N>
void set_text(char (&field)[N], const char* text)
{
    strncpy(field, text, N - 1);
}

class ReportFile : public testing::Test {
protected:
    TempDir dir_;
    ScopedEnv tmpdir_{"TMPDIR", dir_.path()};

    // Creates the report and returns its lines; the file is removed again.
    std::vector<std::string> report_of(const void* record)
    {
        char* name = create_Tempfile(record);
        EXPECT_NE(name, nullptr);
        if (name == nullptr) {
            return {};
        }
        const std::string path = name;
        EXPECT_EQ(path.rfind(dir_.path() + "/", 0), 0u) << path;
        auto lines = nk_test::read_lines(path);
        remove_Tempfile(name);
        EXPECT_FALSE(nk_test::file_exists(path));
        return lines;
    }

    // A zeroed PSU record of the PSU_MAIL kind.
    static PSU_mail_data psu_record()
    {
        PSU_mail_data data;
        memset(&data, 0, sizeof data);
        data.data_type = MAIL_TYPE::PSU_MAIL;
        return data;
    }
};

TEST_F(ReportFile, InfoRecordLinesAndNodeTable)
{
    Info_mail_data data;
    memset(&data, 0, sizeof data);
    data.data_type = MAIL_TYPE::INFO_MAIL;
    set_text(data.version, "V9.8.7");
    set_text(data.serial, "SN0123456789");
    set_text(data.ipaddr, "192.168.100.200");
    set_text(data.information, "rack 3");
    set_text(data.location, "hall B");
    set_text(data.email, "ops@example.com");
    set_text(data.temperature, "45.5");
    data.narel_status[4] = 2;   // node 5 active
    data.narel_status[8] = 7;   // node 9: unknown state, no line
    data.narel_status[9] = 1;   // node 10 mounted
    data.narel_status[31] = 3;  // node 32 active (ready)
    data.umount = 29;
    data.mount = 1;
    data.active = 200;  // printed unchanged, not recounted

    const auto lines = report_of(&data);
    std::vector<std::string> want = {"VERSION=V9.8.7", "SERIAL=SN0123456789", "IPADDR=192.168.100.200",
                                     "INFO=rack 3",    "LOC=hall B",          "EMAIL=ops@example.com",
                                     "TEMP=45.5"};
    for (int n = 1; n <= 32; ++n) {
        const char* state = n == 5 || n == 32 ? "Active" : n == 10 ? "Mounted" : "Unmounted";
        if (n != 9) {
            want.push_back("NODE" + std::to_string(n) + "=" + state);
        }
    }
    want.insert(want.end(), {"UNMOUNTED=29", "MOUNTED=1", "ACTIVE=200"});
    EXPECT_EQ(lines, want);
}

TEST_F(ReportFile, PsuRecordLines)
{
    PSU_mail_data data = psu_record();
    set_text(data.information, "rack 3");
    set_text(data.location, "hall B");
    set_text(data.ipaddr, "10.0.0.7");
    data.psu_status[0] = 3;
    data.psu_status[1] = 0;
    EXPECT_EQ(report_of(&data), (std::vector<std::string>{"INFO=rack 3", "LOC=hall B", "IPADDR=10.0.0.7",
                                                          "PSU1=POWER ON", "PSU2=NOT INSERTED"}));

    data.psu_status[0] = 1;
    data.psu_status[1] = 2;
    auto lines = report_of(&data);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "PSU1=ERROR");
    EXPECT_EQ(lines[4], "PSU2=POWER OFF");

    data.psu_status[0] = 4;
    data.psu_status[1] = 255;
    EXPECT_EQ(report_of(&data).size(), 3u);
}

TEST_F(ReportFile, UnknownKindGivesEmptyFile)
{
    const uint8_t record[sizeof(Info_mail_data)] = {2, 'x', 'y'};
    char* name = create_Tempfile(record);
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(nk_test::file_exists(name));
    EXPECT_EQ(nk_test::read_file(name), "");
    remove_Tempfile(name);
}

TEST_F(ReportFile, UnterminatedTextStaysInsideItsField)
{
    PSU_mail_data data = psu_record();
    memset(data.information, 'i', sizeof data.information);
    set_text(data.location, "hall B");
    const auto lines = report_of(&data);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "INFO=" + std::string(32, 'i'));
    EXPECT_EQ(lines[1], "LOC=hall B");
}

TEST_F(ReportFile, EachReportGetsAFreshName)
{
    PSU_mail_data data = psu_record();
    const std::string first = create_Tempfile(&data);
    const std::string second = create_Tempfile(&data);
    EXPECT_NE(first, second);
    EXPECT_TRUE(nk_test::file_exists(first));
    EXPECT_TRUE(nk_test::file_exists(second));
    struct stat st;
    ASSERT_EQ(stat(second.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(ReportFile, UncreatableFileGivesNull)
{
    ScopedEnv missing("TMPDIR", dir_.file("no-such-folder"));
    PSU_mail_data data;
    memset(&data, 0, sizeof data);
    EXPECT_EQ(create_Tempfile(&data), nullptr);
    EXPECT_EQ(create_Tempfile(nullptr), nullptr);
    remove_Tempfile(nullptr);  // ignored
    char gone[] = "/nonexistent-nk-report";
    remove_Tempfile(gone);  // failure ignored
}

}  // namespace
