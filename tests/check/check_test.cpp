// The pre-flight check against the virtual board: the lines an administrator
// sees on a healthy board and with the faults that keep the BMC from seeing
// the node, and that the check changes nothing on the board.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "preflight_check.h"
#include "test_env.h"
#include "virtual_board.h"

namespace {

using namespace std::chrono_literals;

const std::string prefix = NODEKEEPER_TEST_SYSROOT;
const std::string netplan_path = prefix + "/etc/netplan/99-netcfg.yaml";

// The default route on "lo", as the kernel prints the table.
const char* const route_table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                                "lo\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";

class Check : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(prefix + "/proc/net");
        std::filesystem::create_directories(prefix + "/etc/netplan");
        nk_test::write_file(prefix + "/proc/net/route", route_table);
        std::filesystem::remove(netplan_path);
    }
    void TearDown() override
    {
        board.reset();
        std::filesystem::remove(netplan_path);
        std::filesystem::remove(prefix + "/proc/net/route");
    }

    void mount_board(vboard::BoardOptions options)
    {
        options.prefix = prefix;
        options.serial = "NRL-CHECK-0042";
        board = std::make_unique<vboard::VirtualBoard>(options);
    }

    // Runs the check; its lines, and its result in `result`.
    std::vector<std::string> run_check(int& result)
    {
        FILE* out = tmpfile();
        result = run_preflight_check(out);
        std::vector<std::string> lines;
        rewind(out);
        char line[512];
        while (fgets(line, sizeof line, out) != nullptr) {
            lines.emplace_back(line);
        }
        fclose(out);
        return lines;
    }

    // The line about `what`, or "" when there is none.
    static std::string line_of(const std::vector<std::string>& lines, const std::string& what)
    {
        for (const std::string& line : lines) {
            if (line.compare(5, what.size() + 1, what + ":") == 0) {
                return line;
            }
        }
        return "";
    }

    nk_test::TempDir dir;
    nk_test::FakeCommands fakes{dir};
    nk_test::ScopedEnv lsb{"NK_FAKE_LSB_DESCRIPTION", "Narel Linux 24.04 LTS (check)"};
    std::unique_ptr<vboard::VirtualBoard> board;
};

TEST_F(Check, HealthyBoardPassesEveryCheckAndChangesNothing)
{
    vboard::BoardOptions options;
    options.sensors_present = vboard::SENSOR_4C;
    options.sensors_bound = vboard::SENSOR_4C;
    options.exported_gpios = {480};
    mount_board(options);
    const std::string yaml = "network:\n  version: 2\n";
    nk_test::write_file(netplan_path, yaml);
    std::filesystem::permissions(netplan_path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    int result = -1;
    const auto lines = run_check(result);
    std::string all;
    for (const auto& line : lines) {
        all += line;
    }
    EXPECT_EQ(result, 0) << all;
    const std::vector<std::string> expected = {
        "OK   /dev/i2c-0: opens\n",
        "OK   BMC at 0x08: acknowledges\n",
        "OK   GPIO 480 (attention line): value 1, edge none\n",
        "OK   temperature sensor: 0x4c, driver bound (hwmon1), 45.500 degrees Celsius\n",
        "OK   serial number (EEPROM window): NRL-CHECK-0042\n",
        "OK   default route and address: via lo, 127.0.0.1\n",
        "OK   lsb_release -d: Narel Linux 24.04 LTS (check)\n",
        "OK   /etc/netplan/99-netcfg.yaml: " + std::to_string(yaml.size()) + " bytes, mode 0600\n",
        "OK   netplan generate: accepts the file\n",
    };
    ASSERT_GE(lines.size(), expected.size() + 2) << all;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()), expected);
    EXPECT_EQ(line_of(lines, "netplan").rfind("OK   netplan: " NODEKEEPER_SOURCE_DIR "/tests/fakes/netplan", 0), 0u);
    EXPECT_EQ(line_of(lines, "hostnamectl").rfind("OK   hostnamectl: ", 0), 0u);

    // Only probes and reads: nothing written to the BMC or under sysfs; the
    // generator ran on a copy elsewhere, now removed.
    EXPECT_TRUE(board->received_frames().empty());
    EXPECT_TRUE(board->gpio_writes().empty());
    const auto calls = fakes.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "lsb_release -d");
    const std::string generate = "netplan generate --root-dir ";
    ASSERT_EQ(calls[1].rfind(generate, 0), 0u) << calls[1];
    EXPECT_FALSE(nk_test::file_exists(calls[1].substr(generate.size())));
    EXPECT_EQ(nk_test::read_file(netplan_path), yaml);
}

TEST_F(Check, NoBusFailsTheBusAndWhatNeedsIt)
{
    // No board at all: no devices, no sysfs.
    int result = -1;
    const auto lines = run_check(result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(line_of(lines, "/dev/i2c-0"),
              "FAIL /dev/i2c-0: No such file or directory; hint: is the i2c-dev module loaded (modprobe i2c-dev)?\n");
    EXPECT_EQ(line_of(lines, "BMC at 0x08"), "FAIL BMC at 0x08: not probed; hint: the bus did not open (see above)\n");
    EXPECT_EQ(line_of(lines, "temperature sensor"),
              "FAIL temperature sensor: not probed; hint: the bus did not open (see above)\n");
    EXPECT_EQ(line_of(lines, "GPIO 480 (attention line)"),
              "OK   GPIO 480 (attention line): not exported (the daemon exports it at start)\n");
    EXPECT_EQ(line_of(lines, "/etc/netplan/99-netcfg.yaml"),
              "OK   /etc/netplan/99-netcfg.yaml: not there yet (the daemon writes it at the BMC's first network "
              "command)\n");
}

TEST_F(Check, BmcDroppedAndNoSensorGiveTheirLines)
{
    vboard::BoardOptions options;
    options.sensors_present = vboard::SENSOR_NONE;
    options.bmc_present = false;
    mount_board(options);
    int result = -1;
    const auto lines = run_check(result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(line_of(lines, "/dev/i2c-0"), "OK   /dev/i2c-0: opens\n");
    EXPECT_EQ(line_of(lines, "BMC at 0x08"),
              "FAIL BMC at 0x08: No such device or address; hint: is the BMC powered and the cable seated? "
              "i2cdetect -y 0 should show 08\n");
    EXPECT_EQ(line_of(lines, "temperature sensor"),
              "FAIL temperature sensor: no answer at 0x4c or 0x4d: No such device or address; hint: without the "
              "sensor the daemon reports no temperature; i2cdetect -y 0 should show 4c or 4d\n");

    // The BMC comes back and a sensor without driver appears.
    board->set_bmc_present(true);
    board->add_sensor(vboard::sensor_address_4d, false);
    const auto again = run_check(result);
    EXPECT_EQ(line_of(again, "BMC at 0x08"), "OK   BMC at 0x08: acknowledges\n");
    EXPECT_EQ(line_of(again, "temperature sensor"),
              "OK   temperature sensor: answers at 0x4d, no driver bound (the daemon binds it at start)\n");
    EXPECT_TRUE(board->gpio_writes().empty());
}

TEST_F(Check, NetplanFileThatNetplanRejectsFailsAndALinkIsNamed)
{
    // A link to a file elsewhere: the service's sandbox cannot replace it.
    nk_test::write_file(dir.file("elsewhere.yaml"), "network: [\n");
    std::filesystem::create_symlink(dir.file("elsewhere.yaml"), netplan_path);
    nk_test::ScopedEnv fail("NK_FAKE_FAIL_CALL", "netplan generate");
    int result = -1;
    auto lines = run_check(result);
    EXPECT_EQ(result, 1);
    const std::string file_line = line_of(lines, "/etc/netplan/99-netcfg.yaml");
    EXPECT_NE(file_line.find(", a link to " + dir.file("elsewhere.yaml") + "\n"), std::string::npos) << file_line;
    const std::string hint = "; hint: netplan does not accept the file; netplan would not apply it either\n";
    EXPECT_EQ(line_of(lines, "netplan generate"), "FAIL netplan generate: exit status 1" + hint);

    // netplan's message, not its last line; the path as the node names it.
    nk_test::ScopedEnv message("NK_FAKE_STDERR", "@ROOT@/etc/netplan/99-netcfg.yaml:1:10: Invalid YAML: did not find "
                                                 "expected node content:\nnetwork: [\n         ^");
    lines = run_check(result);
    EXPECT_EQ(line_of(lines, "netplan generate"),
              "FAIL netplan generate: /etc/netplan/99-netcfg.yaml:1:10: Invalid YAML: did not find expected node "
              "content:" +
                  hint);
}

TEST_F(Check, NetplanGenerateRunsInTheDaemonsOwnFolderWhateverTmpdirSays)
{
    nk_test::write_file(netplan_path, "network:\n  version: 2\n");
    for (const std::string& tmpdir :
         {dir.file("a b"), dir.file("x;touch ") + dir.file("y") + ";", std::string("/ x")}) {
        SCOPED_TRACE(tmpdir);
        nk_test::ScopedEnv tmp("TMPDIR", tmpdir);
        std::remove(fakes.log().c_str());
        int result = -1;
        const auto lines = run_check(result);
        EXPECT_EQ(line_of(lines, "netplan generate"), "OK   netplan generate: accepts the file\n");
        const auto calls = fakes.calls();
        ASSERT_EQ(calls.size(), 2u);
        const std::string head = "netplan generate --root-dir " + prefix + "/run/nodekeeper/generate-";
        EXPECT_EQ(calls[1].rfind(head, 0), 0u) << calls[1];
        EXPECT_EQ(calls[1].find(' ', head.size()), std::string::npos) << calls[1];
        EXPECT_FALSE(nk_test::file_exists(calls[1].substr(calls[1].rfind(' ') + 1)));
    }
    EXPECT_FALSE(nk_test::file_exists(dir.file("y")));
}

TEST_F(Check, AnInterruptEndsNetplanGenerateAndRemovesTheCopy)
{
    nk_test::write_file(netplan_path, "network:\n  version: 2\n");
    const std::string hang_file = dir.file("hang");
    nk_test::write_file(hang_file, "");
    nk_test::ScopedEnv hang("NK_FAKE_HANG", "netplan generate");
    nk_test::ScopedEnv hang_while("NK_FAKE_HANG_FILE", hang_file);
    for (const int signal_number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal_number);
        std::remove(fakes.log().c_str());
        fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            FILE* out = fopen("/dev/null", "we");
            _exit(run_preflight_check(out));
        }
        // Waits (bounded) until netplan generate hangs in its root folder.
        std::string call;
        for (int i = 0; i < 500 && call.empty(); ++i) {
            for (const std::string& c : fakes.calls()) {
                call = c.rfind("netplan generate", 0) == 0 ? c : call;
            }
            usleep(10000);
        }
        ASSERT_FALSE(call.empty());
        const std::string root = call.substr(call.rfind(' ') + 1);
        EXPECT_TRUE(nk_test::file_exists(root + "/etc/netplan/99-netcfg.yaml"));
        kill(pid, signal_number);
        int status = 0;
        for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
            usleep(10000);
        }
        if (!WIFSIGNALED(status)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the check did not end by the signal";
        }
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_FALSE(nk_test::file_exists(root));
    }
}

TEST_F(Check, NetplanFileTheStoreRefusesFailsInTheStoresWords)
{
    const std::string hint =
        "; hint: the daemon refuses it as well: it reads and replaces only a regular file of at most 65536 bytes\n";
    // A FIFO is named, not opened: a blocking open would hang the check.
    ASSERT_EQ(mkfifo(netplan_path.c_str(), 0600), 0);
    int result = -1;
    auto lines = run_check(result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(line_of(lines, "/etc/netplan/99-netcfg.yaml"),
              "FAIL /etc/netplan/99-netcfg.yaml: is a FIFO, not a regular file" + hint);
    EXPECT_EQ(line_of(lines, "netplan generate"), "");

    std::filesystem::remove(netplan_path);
    nk_test::write_file(netplan_path, "");
    ASSERT_EQ(truncate(netplan_path.c_str(), 64 * 1024 + 1), 0);
    lines = run_check(result);
    EXPECT_EQ(line_of(lines, "/etc/netplan/99-netcfg.yaml"),
              "FAIL /etc/netplan/99-netcfg.yaml: is larger than 65536 bytes" + hint);
}

}  // namespace
