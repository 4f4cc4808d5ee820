// Standard output as the journal: JOURNAL_STREAM must name the very file on
// the descriptor; then every log line starts with its syslog priority, and
// only where a line starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "journal_stream.h"
#include "log_line.h"
#include "test_env.h"

namespace {

std::string stream_of(int fd)
{
    struct stat status;
    EXPECT_EQ(fstat(fd, &status), 0);
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

TEST(JournalStream, MatchesOnlyTheFileOnTheDescriptor)
{
    nk_test::TempDir dir;
    nk_test::write_file(dir.file("a"), "");
    nk_test::write_file(dir.file("b"), "");
    const int a = open(dir.file("a").c_str(), O_RDONLY | O_CLOEXEC);
    const int b = open(dir.file("b").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    const std::string value = stream_of(a);

    EXPECT_TRUE(match_journal_stream(value.c_str(), a));
    EXPECT_FALSE(match_journal_stream(value.c_str(), b)) << "another file on the same device";
    EXPECT_FALSE(match_journal_stream(nullptr, a));
    for (const std::string& bad : {std::string(""), value + "x", value + ":1", ":" + value.substr(value.find(':') + 1),
                                   value.substr(0, value.find(':') + 1), "-" + value, " " + value}) {
        EXPECT_FALSE(match_journal_stream(bad.c_str(), a)) << "'" << bad << "'";
    }
    close(a);
    close(b);
    EXPECT_FALSE(match_journal_stream(value.c_str(), a)) << "a closed descriptor";
}

// Runs `log` with standard output captured and the prefix as given.
template <typename Log>
std::string logged(bool prefix, Log log)
{
    set_log_priority_prefix(prefix);
    testing::internal::CaptureStdout();
    log();
    const std::string out = testing::internal::GetCapturedStdout();
    set_log_priority_prefix(false);
    return out;
}

void log_some_lines()
{
    log_line("[ERROR] %s: \n", "BMC_Packet_Receive_Error_Handler");
    log_line("[INFO] %s: Default IP: %s\n", "update_Config_Default_IP_Address", "127.0.0.1");
    // A fixed line without a line end, continued by the next text.
    log_line("[ERROR] %s: open failed ", "set_GPIO_Value");
    log_line("[INFO] (continued)\n");
    log_line("untagged\n[INFO] %s: two lines in one call\n", "main");
    log_line("<5>looks like a priority\n");
    log_line("[INFO] %s: %s\n", "main", std::string(400, 'x').c_str());  // beyond any small buffer
}

TEST(LogLine, PutsThePriorityAtEachLineStartOnlyWhenTheJournalIsTheOutput)
{
    const std::string plain = "[ERROR] BMC_Packet_Receive_Error_Handler: \n"
                              "[INFO] update_Config_Default_IP_Address: Default IP: 127.0.0.1\n"
                              "[ERROR] set_GPIO_Value: open failed [INFO] (continued)\n"
                              "untagged\n[INFO] main: two lines in one call\n"
                              "<5>looks like a priority\n"
                              "[INFO] main: " +
                              std::string(400, 'x') + "\n";
    EXPECT_EQ(logged(false, log_some_lines), plain);
    EXPECT_EQ(logged(true, log_some_lines), "<3>[ERROR] BMC_Packet_Receive_Error_Handler: \n"
                                            "<6>[INFO] update_Config_Default_IP_Address: Default IP: 127.0.0.1\n"
                                            "<3>[ERROR] set_GPIO_Value: open failed [INFO] (continued)\n"
                                            "<6>untagged\n<6>[INFO] main: two lines in one call\n"
                                            "<6><5>looks like a priority\n"
                                            "<6>[INFO] main: " +
                                                std::string(400, 'x') + "\n");
}

TEST(LogLine, EnabledByTheEnvironmentOnlyForTheJournalStream)
{
    // Captured standard output is a file: name it, as the journal would.
    testing::internal::CaptureStdout();
    bool enabled = false;
    {
        nk_test::ScopedEnv env("JOURNAL_STREAM", stream_of(STDOUT_FILENO));
        enabled = enable_journal_priorities();
    }
    log_line("[ERROR] y\n");
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    set_log_priority_prefix(false);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(out, "<3>[ERROR] y\n");
}

}  // namespace
