// The daemon end to end: the real binary against the virtual board, driven
// and observed only as the BMC and the node's system see it.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "daemon_fixture.h"

namespace e2e {
namespace {

// Calls of the fakes other than the OS description look-up.
std::vector<std::string> system_changes(const nk_test::FakeCommands& fakes)
{
    std::vector<std::string> calls = fakes.calls();
    calls.erase(std::remove(calls.begin(), calls.end(), "lsb_release -d"), calls.end());
    return calls;
}

// Polls the fakes' log until `call` is in it.
bool wait_call(const nk_test::FakeCommands& fakes, const std::string& call, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto calls = fakes.calls();
        if (std::find(calls.begin(), calls.end(), call) != calls.end()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        usleep(50000);
    }
}

// Runs the real netplan generator on a copy of `file` in a root folder of its
// own. Where systemd runs, the generator may start units through
// /bin/systemctl: it then runs in a mount namespace of its own in which
// systemctl is /bin/false. Returns the command's exit status.
int netplan_generate(const std::string& file, const std::string& root)
{
    std::filesystem::create_directories(root + "/etc/netplan");
    std::filesystem::copy_file(file, root + "/etc/netplan/99-netcfg.yaml");
    chmod((root + "/etc/netplan/99-netcfg.yaml").c_str(), 0600);
    std::string command = "/usr/sbin/netplan generate --root-dir " + root;
    if (nk_test::file_exists("/run/systemd/system")) {
        command = "unshare --mount --propagation private sh -c "
                  "'mount --bind /bin/false /bin/systemctl && exec " +
                  command + "'";
    }
    return std::system(command.c_str());
}

// ----------------------------------------------------------------------------
// Start-up
// ----------------------------------------------------------------------------

using DaemonStartUp = DaemonTest;

TEST_F(DaemonStartUp, SendsTheDescriptionThenAgainWithTheAddressOfTheFirstRefresh)
{
    mount_board();
    start_daemon();
    ASSERT_TRUE(board->wait_received(7, 15s)) << daemon->output();

    const std::vector<Bytes> expected = {
        description_frame(description_os, test_os_description),
        description_frame(description_ip, "0.0.0.0"),
        description_frame(description_serial, test_serial),
        description_frame(description_os, test_os_description),
        description_frame(description_ip, "127.0.0.1"),
        description_frame(description_serial, test_serial),
        // The reading of the first pass, one pass after the second batch.
        temperature_frame(45.5f),
    };
    const auto got = frames();
    EXPECT_EQ(std::vector<Bytes>(got.begin(), got.begin() + 7), expected);
    EXPECT_NE(daemon->output().find("[INFO] update_Config_Default_IP_Address: Default IP: 127.0.0.1\n"),
              std::string::npos)
        << daemon->output();
}

// The sensor's driver is bound at start: the daemon goes on as soon as the
// driver's hwmon folder is there, not after a fixed wait.
TEST_F(DaemonStartUp, ReadyWithinASecondWhenTheSensorDriverIsBoundAtStart)
{
    NotifySocket notify(dir.file("notify"));
    mount_board(false);
    const auto spawned = std::chrono::steady_clock::now();
    daemon = std::make_unique<DaemonProcess>(NODEKEEPER_DAEMON_SIM, dir.path());
    const auto ready =
        notify.wait_for("READY=1\nSTATUS=reporting to the BMC on " NODEKEEPER_TEST_SYSROOT "/dev/i2c-0", 10s);
    ASSERT_TRUE(ready) << daemon->output();
    const auto took = notify.receive(0ms)[*ready].time - spawned;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    RecordProperty("ready_ms", static_cast<int>(ms));
    std::printf("READY=1 %lld ms after the start\n", static_cast<long long>(ms));
    EXPECT_LT(took, 3s);
    EXPECT_NE(daemon->output().find("[INFO] init_NAREL_Sensor: Onboard Temperature sensor address: 0x4C\n"),
              std::string::npos)
        << daemon->output();
}

TEST_F(DaemonStartUp, ExitsWithTheErrorLineWhenTheLinkCannotStart)
{
    // No board: neither the attention line nor the bus exists.
    daemon = std::make_unique<DaemonProcess>(NODEKEEPER_DAEMON_SIM, dir.path());
    const auto status = daemon->wait_exit(10s);
    ASSERT_TRUE(status) << "still running:\n" << daemon->output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "wait status " << *status;
    EXPECT_NE(daemon->output().find(link_error_line), std::string::npos) << daemon->output();
    EXPECT_EQ(daemon->output().find(banner_text), std::string::npos) << daemon->output();
    daemon.reset();
}

// ----------------------------------------------------------------------------
// Status reports
// ----------------------------------------------------------------------------

using DaemonReports = DaemonTest;

TEST_F(DaemonReports, TemperatureChangeOnTheNextPassThenKeepAliveAfterElevenIdlePasses)
{
    mount_board();
    start_daemon();
    const auto first = wait_for(temperature_frame(45.5f), 0, 15s);
    ASSERT_TRUE(first) << daemon->output();

    board->set_temperature(51250);
    const auto changed_at = std::chrono::steady_clock::now();
    const auto changed = wait_for(temperature_frame(51.25f), *first + 1, 6s);
    ASSERT_TRUE(changed);
    EXPECT_EQ(*changed, *first + 1) << "something else went out before the new temperature";
    auto received = board->received_frames();
    EXPECT_LT(received[*changed].time - changed_at, passes(5)) << "not reported promptly";

    // Nothing changes from here: 10 idle passes send nothing, the 11th a
    // keep-alive (each pass is main_loop_period and its work).
    ASSERT_TRUE(board->wait_received(*changed + 2, 10s)) << daemon->output();
    received = board->received_frames();
    EXPECT_EQ(received[*changed + 1].raw, keep_alive_frame());
    const auto idle = received[*changed + 1].time - received[*changed].time;
    EXPECT_GE(idle, passes(10) + passes(1) / 2);
    EXPECT_LT(idle, passes(25));
}

// The BMC is off the bus for a while (every write fails) and meanwhile the
// temperature and the address change: both reach the BMC on the first pass
// after it is back, and the outage is logged once at its start and once at
// its end, not per retry.
TEST_F(DaemonReports, ReportsThatFailDuringAnOutageArriveWhenItEnds)
{
    mount_board();
    start_daemon();
    ASSERT_TRUE(wait_for(temperature_frame(45.5f), 0, 15s)) << daemon->output();

    board->set_bmc_present(false);
    const size_t before = frames().size();
    board->set_temperature(70000);
    // No default route any more: the address becomes 0.0.0.0.
    nk_test::write_file(prefix() + "/proc/net/route",
                        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n");
    ASSERT_TRUE(daemon->wait_output("Default IP: 0.0.0.0\n", 5s)) << daemon->output();
    std::this_thread::sleep_for(passes(10));
    ASSERT_EQ(frames().size(), before);

    board->set_bmc_present(true);
    const auto back = std::chrono::steady_clock::now();
    const auto temperature = wait_for(temperature_frame(70.0f), before, 5s);
    const auto address = wait_for(description_frame(description_ip, "0.0.0.0"), before, 5s);
    ASSERT_TRUE(temperature && address) << daemon->output();
    const auto received = board->received_frames();
    EXPECT_LT(received[std::max(*temperature, *address)].time - back, passes(5));

    const std::string output = daemon->output();
    auto count = [&output](const std::string& text) {
        size_t n = 0;
        for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("[ERROR] set_I2C_Packet_Write: packet write failed, -1, No such device or address: " + prefix() +
                    "/dev/i2c-0\n"),
              1u)
        << output;
    EXPECT_EQ(count("[ERROR] BMC_Packet_Receive_Error_Handler: \n"), 1u) << output;
    EXPECT_EQ(count("[INFO] set_I2C_Packet_Write: packet writes succeed again after "), 1u) << output;
}

// ----------------------------------------------------------------------------
// Commands of the BMC
// ----------------------------------------------------------------------------

using DaemonCommands = DaemonTest;

TEST_F(DaemonCommands, StaticConfigurationLeavesAFileNetplanAcceptsAndApplies)
{
    mount_board();
    start_daemon();
    for (const Bytes& frame : {vboard::network_mode_frame(vboard::network_mode_static),
                               vboard::network_ip_frame("192.0.2.10"), vboard::network_netmask_frame("255.255.255.0"),
                               vboard::network_gateway_frame("192.0.2.1"), vboard::network_dns1_frame("192.0.2.53"),
                               vboard::network_dns2_frame("198.51.100.53"), vboard::network_apply_frame()}) {
        board->queue_bmc_frame(frame);
    }
    ASSERT_TRUE(wait_call(fakes, "netplan apply", 10s)) << daemon->output();
    EXPECT_EQ(system_changes(fakes), std::vector<std::string>{"netplan apply"});

    const std::string yaml = nk_test::read_file(netplan_path());
    EXPECT_NE(yaml.find("addresses: [192.0.2.10/24]"), std::string::npos) << yaml;
    EXPECT_NE(yaml.find("gateway4: 192.0.2.1"), std::string::npos) << yaml;
    EXPECT_NE(yaml.find("addresses: [192.0.2.53,198.51.100.53]"), std::string::npos) << yaml;

    nk_test::TempDir root;
    ASSERT_EQ(netplan_generate(netplan_path(), root.path()), 0) << yaml;
    const std::string network = nk_test::read_file(root.file("run/systemd/network/10-netplan-eth0.network"));
    for (const char* line : {"Address=192.0.2.10/24", "Gateway=192.0.2.1", "DNS=192.0.2.53", "DNS=198.51.100.53"}) {
        EXPECT_NE(network.find(line), std::string::npos) << line << " missing in\n" << network;
    }
}

TEST_F(DaemonCommands, HostNameRunsHostnamectlOncePerNewName)
{
    mount_board();
    start_daemon();
    board->queue_bmc_frame(vboard::network_hostname_frame("node-07"));
    board->queue_bmc_frame(vboard::network_hostname_frame("node-07"));
    board->queue_bmc_frame(vboard::network_hostname_frame("node-08"));
    ASSERT_TRUE(wait_call(fakes, "hostnamectl set-hostname node-08", 10s)) << daemon->output();
    EXPECT_EQ(system_changes(fakes),
              (std::vector<std::string>{"hostnamectl set-hostname node-07", "hostnamectl set-hostname node-08"}));
}

// Frames no BMC should send: bad lengths with random bytes, texts without
// their NUL, shell syntax in a host name. None may stop the daemon or run a
// command; the daemon goes on reporting.
TEST_F(DaemonCommands, HostileFramesRunNothingAndReportingGoesOn)
{
    mount_board();
    start_daemon();
    const std::string marker = dir.file("injected");

    std::mt19937 random(20261207);
    auto random_frame = [&](uint8_t length, uint8_t subaddress) {
        Bytes frame(256);
        for (auto& b : frame) {
            b = static_cast<uint8_t>(random());
        }
        frame[0] = length;
        frame[4] = subaddress;
        return frame;
    };
    std::vector<Bytes> hostile;
    // Lengths below the header and a header without data, for every command
    // that takes data (and one beyond the vocabulary). Apply (6) needs no data.
    for (uint8_t length : {0, 1, 2, 5}) {
        for (uint8_t subaddress : {0, 1, 2, 3, 4, 5, 7, 200}) {
            hostile.push_back(random_frame(length, subaddress));
        }
    }
    // The longest frame, random data, for every text command.
    for (uint8_t subaddress : {1, 2, 3, 4, 5, 7, 8}) {
        hostile.push_back(random_frame(255, subaddress));
    }
    // Texts that fill the frame without a NUL.
    for (uint8_t subaddress : {1, 4, 7}) {
        Bytes frame = {255, 0x00, 0x55, 0x07, subaddress};
        frame.resize(255, subaddress == 7 ? 'a' : '1');
        hostile.push_back(frame);
    }
    // Host names that a shell would take apart or as options.
    const std::vector<std::string> names = {"a;touch " + marker,
                                            "$(touch " + marker + ")",
                                            "`touch " + marker + "`",
                                            "a|touch " + marker,
                                            "a&&touch " + marker,
                                            "a\ntouch " + marker,
                                            "--help",
                                            "-h",
                                            "a b",
                                            "node'07",
                                            "node\"07",
                                            "node*"};
    for (const std::string& name : names) {
        hostile.push_back(vboard::network_hostname_frame(name));
    }
    for (const Bytes& frame : hostile) {
        board->queue_bmc_frame(frame);
    }
    ASSERT_TRUE(board->wait_delivered(20s)) << board->pending_frames() << " frames not read\n" << daemon->output();

    // Still reporting: a new temperature goes out.
    const size_t before = frames().size();
    board->set_temperature(37125);
    EXPECT_TRUE(wait_for(temperature_frame(37.125f), before, 10s)) << daemon->output();

    EXPECT_TRUE(daemon->running()) << daemon->output();
    EXPECT_EQ(system_changes(fakes), std::vector<std::string>{});
    EXPECT_FALSE(nk_test::file_exists(marker));
}

// ----------------------------------------------------------------------------
// The service manager
// ----------------------------------------------------------------------------

using DaemonService = DaemonTest;

const std::string ready_message = "READY=1\nSTATUS=reporting to the BMC on " NODEKEEPER_TEST_SYSROOT "/dev/i2c-0";

TEST_F(DaemonService, ReadyOnceAfterTheBannerAndNoWatchdogUnlessAsked)
{
    NotifySocket notify(dir.file("notify"));
    mount_board();
    daemon = std::make_unique<DaemonProcess>(NODEKEEPER_DAEMON_SIM, dir.path());
    ASSERT_TRUE(notify.wait_for(ready_message, 15s)) << daemon->output();
    EXPECT_TRUE(daemon->wait_output(banner_text, 2s)) << daemon->output();

    // No WATCHDOG_USEC: five passes and no ping, no second READY.
    const auto messages = notify.receive(passes(5));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.size(), 1u) << messages.back().text;
}

TEST_F(DaemonService, NoReadyWhenTheStartFails)
{
    NotifySocket notify(dir.file("notify"));
    daemon = std::make_unique<DaemonProcess>(NODEKEEPER_DAEMON_SIM, dir.path());
    const auto status = daemon->wait_exit(10s);
    ASSERT_TRUE(status) << daemon->output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "wait status " << *status;
    EXPECT_EQ(notify.receive(100ms).size(), 0u);
    daemon.reset();
}

TEST_F(DaemonService, WatchdogPingsWhileTheLinkWorksAndStopsWhileACommandHangs)
{
    NotifySocket notify(dir.file("notify"));
    nk_test::ScopedEnv watchdog("WATCHDOG_USEC", "60000000");
    hang_file = dir.file("netplan-hangs");
    nk_test::ScopedEnv hang("NK_FAKE_HANG_FILE", hang_file);
    mount_board();
    start_daemon();
    ASSERT_TRUE(notify.wait_for(ready_message, 10s));
    notify.receive(passes(5));
    ASSERT_GE(notify.count("WATCHDOG=1"), 2u) << "pings while the daemon works";

    // The link runs "netplan apply", which does not return.
    nk_test::write_file(hang_file, "");
    board->queue_bmc_frame(vboard::network_apply_frame());
    ASSERT_TRUE(wait_call(fakes, "netplan apply", 10s)) << daemon->output();
    // The link's counter stands still: within the progress window and a pass
    // the pings stop, and none come while the command hangs.
    notify.receive(link_progress_window + passes(3));
    const size_t before = notify.count("WATCHDOG=1");
    notify.receive(link_progress_window);
    EXPECT_EQ(notify.count("WATCHDOG=1"), before) << "pings while the link hangs";
    EXPECT_TRUE(daemon->running());

    // The command returns: the pings come back.
    std::filesystem::remove(hang_file);
    notify.receive(link_progress_window);
    EXPECT_GT(notify.count("WATCHDOG=1"), before) << "no ping after the command returned";
}

// A manager that does not read its socket (its queue full before the start):
// the daemon does not block on it, reports and pings go on, the stall is
// logged once, and READY=1, never dropped, arrives once the manager reads.
TEST_F(DaemonService, ReportsGoOnWhileTheManagerDoesNotReadAndReadyComesWhenItDoes)
{
    NotifySocket notify(dir.file("notify"));
    nk_test::ScopedEnv watchdog("WATCHDOG_USEC", "60000000");
    ASSERT_GT(notify.fill(), 0u);
    mount_board();
    start_daemon();
    // The reports of the loop's passes: the second batch, then the temperature.
    ASSERT_TRUE(wait_for(temperature_frame(45.5f), 0, 10s)) << daemon->output();
    std::this_thread::sleep_for(passes(5));
    const std::string stall =
        "[ERROR] send_service_notify: notification socket full, message not sent: " + dir.file("notify") +
        ": Resource temporarily unavailable\n";
    const std::string output = daemon->output();
    ASSERT_NE(output.find(stall), std::string::npos) << output;
    EXPECT_EQ(output.find(stall), output.rfind(stall)) << "logged per message:\n" << output;

    ASSERT_TRUE(notify.wait_for(ready_message, 5s)) << "READY=1 was dropped";
    notify.receive(passes(3));
    EXPECT_EQ(notify.count(ready_message), 1u);
    EXPECT_GE(notify.count("WATCHDOG=1"), 1u);
}

}  // namespace
}  // namespace e2e
