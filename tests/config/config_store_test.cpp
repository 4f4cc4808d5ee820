// The configuration store on real files: the settings file main_daemon.config
// in a fresh working folder, the write-back, bounded value reads and the
// command runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config_internal.h"
#include "test_env.h"

namespace {

const std::string header = "#Main Daemon Config File";

class ConfigStoreTest : public ::testing::Test {
protected:
    std::string settings() const { return nk_test::read_file(dir.file("main_daemon.config")); }
    std::string get(const std::string& file, const char* name, char token, const char* ignore, bool any_line)
    {
        char buffer[100] = {};
        get_Config_Data(file.c_str(), name, buffer, token, ignore, any_line);
        return buffer;
    }

    nk_test::TempDir dir;
    nk_test::ScopedCwd cwd{dir.path()};
};

}  // namespace

// --- settings file ----------------------------------------------------------------

TEST_F(ConfigStoreTest, FirstSettingCreatesTheFileAndLaterOnesAppendOrReplace)
{
    EXPECT_EQ(set_Config_Information("blade A"), 2);
    EXPECT_EQ(settings(), header + "\ninformation blade A");
    EXPECT_EQ(set_Config_Location("rack 3"), 2);
    EXPECT_EQ(settings(), header + "\ninformation blade A\nlocation rack 3");
    EXPECT_EQ(set_Config_Information("blade B"), 0);
    EXPECT_EQ(settings(), header + "\ninformation blade B\nlocation rack 3");
    EXPECT_EQ(get("main_daemon.config", "location", ' ', nullptr, false), "rack 3");
}

TEST_F(ConfigStoreTest, GenerationWritesTheHeaderOnly)
{
    nk_test::write_file("main_daemon.config", "information old\n");
    EXPECT_TRUE(set_Config_File_Generate());
    EXPECT_EQ(settings(), header);
}

TEST_F(ConfigStoreTest, KeyOnTwoLinesReplacesBothAndCommentedKeyAppends)
{
    nk_test::write_file("main_daemon.config", header + "\nlocation a\nlocation b\n#information x\n");
    EXPECT_EQ(set_Config_Location("c"), 0);
    EXPECT_EQ(set_Config_Information("y"), 2);
    EXPECT_EQ(settings(), header + "\nlocation c\nlocation c\n#information x\n\ninformation y");
}

TEST_F(ConfigStoreTest, AnotherMissingTargetIsNotCreatedAndTheSettingsAreKept)
{
    nk_test::write_file("main_daemon.config", header + "\nlocation a");
    EXPECT_EQ(set_Config_Data(dir.file("missing.yaml").c_str(), "gateway4", "1.2.3.4", ':', nullptr), 1);
    EXPECT_FALSE(nk_test::file_exists(dir.file("missing.yaml")));
    set_Config_Data_Comment(dir.file("missing.yaml").c_str(), "gateway4", true, ':', nullptr);
    EXPECT_FALSE(nk_test::file_exists(dir.file("missing.yaml")));
    EXPECT_EQ(settings(), header + "\nlocation a");
}

// --- reading -------------------------------------------------------------------------

TEST_F(ConfigStoreTest, ReadLeavesTheBufferAloneWhenNothingMatches)
{
    char buffer[100] = "before";
    get_Config_Data("absent.conf", "location", buffer, ' ', nullptr, false);
    EXPECT_STREQ(buffer, "before");
    nk_test::write_file("x.yaml", "  #gateway4: 10.0.0.1\n");
    get_Config_Data("x.yaml", "gateway4", buffer, ':', nullptr, false);
    EXPECT_STREQ(buffer, "before");
    get_Config_Data("x.yaml", "gateway4", buffer, ':', nullptr, true);
    EXPECT_STREQ(buffer, "10.0.0.1");
}

TEST_F(ConfigStoreTest, ReadNeverWritesPastTheCallersHundredBytes)
{
    nk_test::write_file("x.yaml", "key: " + std::string(300, 'v') + "\n");
    char buffer[200];
    std::memset(buffer, '#', sizeof buffer);
    get_Config_Data("x.yaml", "key", buffer, ':', nullptr, false);
    EXPECT_EQ(std::string(buffer), std::string(99, 'v'));
    for (std::size_t i = 100; i < sizeof buffer; ++i) {
        ASSERT_EQ(buffer[i], '#') << i;
    }
}

// --- write-back --------------------------------------------------------------------------

TEST_F(ConfigStoreTest, WriteBackKeepsPermissionBitsAndLeavesNoTemporaryFile)
{
    nk_test::write_file("x.yaml", "gateway4: 1.1.1.1\n");
    ASSERT_EQ(chmod("x.yaml", 0640), 0);
    EXPECT_EQ(set_Config_Data("x.yaml", "gateway4", "2.2.2.2", ':', nullptr), 0);
    struct stat st;
    ASSERT_EQ(stat("x.yaml", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(nk_test::read_file("x.yaml"), "gateway4: 2.2.2.2\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(e.path().filename());
    }
    EXPECT_EQ(names, std::vector<std::string>{"x.yaml"});
}

TEST_F(ConfigStoreTest, TargetKeepsItsContentWhenNoTemporaryFileCanBeMade)
{
    // A name so long that no longer name beside it is allowed.
    const std::string target(250, 'n');
    nk_test::write_file(target, "gateway4: 1.1.1.1\n");
    EXPECT_EQ(set_Config_Data(target.c_str(), "gateway4", "2.2.2.2", ':', nullptr), 3);
    EXPECT_EQ(set_Config_Data_Comment(target.c_str(), "gateway4", true, ':', nullptr), 3);
    EXPECT_EQ(nk_test::read_file(target), "gateway4: 1.1.1.1\n");
}

// --- command runner --------------------------------------------------------------------------

TEST_F(ConfigStoreTest, CommandLeavesTheLastLineOrTheLastPiece)
{
    char result[128] = {};
    EXPECT_EQ(set_Command("printf 'a\\nb\\nlast line\\n'", result, sizeof result), 0);
    EXPECT_STREQ(result, "last line\n");
    char small[4] = {};
    set_Command("printf 'abcdefghij'", small, sizeof small);
    EXPECT_STREQ(small, "j");
    char none[1] = {'x'};
    set_Command("echo hello", none, 1);
    EXPECT_EQ(none[0], '\0');
    char empty[128] = {};
    set_Command("true", empty, sizeof empty);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(set_Command("touch ran", nullptr, 0), 0);
    EXPECT_TRUE(nk_test::file_exists(dir.file("ran")));
}

TEST_F(ConfigStoreTest, CommandThatCannotStartIsOneErrorLine)
{
    const nk_test::ScopedEnv no_shell("PATH", dir.path());
    testing::internal::CaptureStdout();
    char result[128] = {};
    const int8_t status = set_Command("echo never", result, sizeof result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ERROR] set_Command: sh -c could not be started: No such file or directory\n");
    EXPECT_EQ(status, -1);
    EXPECT_STREQ(result, "");
}

TEST_F(ConfigStoreTest, WriteBackThroughASymbolicLinkReplacesTheFileItNames)
{
    nk_test::write_file("real.yaml", "gateway4: 1.1.1.1\n");
    ASSERT_EQ(symlink("real.yaml", "link.yaml"), 0);
    EXPECT_EQ(set_Config_Data("link.yaml", "gateway4", "2.2.2.2", ':', nullptr), 0);
    struct stat st;
    ASSERT_EQ(lstat("link.yaml", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(nk_test::read_file("real.yaml"), "gateway4: 2.2.2.2\n");
}
