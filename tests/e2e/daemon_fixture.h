// Fixture of the end-to-end tests: the real daemon binary of the simulation
// build (platform prefix = the build tree's virtual board) runs as a child
// process against a board served by the test process, in a fresh working
// folder, with the recording fakes of netplan, hostnamectl and lsb_release
// first in PATH. The board's routing table has a default route on "lo", so
// the daemon's first address refresh finds 127.0.0.1.
//
// Frames are checked as the BMC receives them, byte for byte, against the
// layouts of the link (built here by hand, not with the daemon's codec).
//
// The simulation flavour's main loop runs every main_loop_period
// (daemon_timing.h, a tenth of the node's two seconds): schedules counted in
// passes are checked in passes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon_process.h"
#include "daemon_timing.h"
#include "test_env.h"
#include "virtual_board.h"

namespace e2e {

using namespace std::chrono_literals;
using vboard::Bytes;

// Subaddresses of the description reports.
constexpr uint8_t description_ip = 2;
constexpr uint8_t description_serial = 3;
constexpr uint8_t description_os = 5;

// What the fakes and the board give the daemon to report.
const char* const test_os_description = "Narel Linux 24.04 LTS (e2e)";
const char* const test_serial = "NRL-E2E-4711";
const char* const banner_text = "[INFO] main: Tovana Ruvo Narel Main Daemon V" NODEKEEPER_VERSION " - ";
const char* const link_error_line = "[ERROR] main: BMC I2C link could not be started\n";

// The time of n passes of the daemon's main loop (their work not counted).
constexpr std::chrono::milliseconds passes(int n) { return n * main_loop_period; }

// n + 6, 0x00, 0x55, 0x00, subaddress, the n characters, 0x00
Bytes description_frame(uint8_t subaddress, const std::string& text);
// 9, 0x00, 0x45, 0x05, 0x00, the float in the node's byte order
Bytes temperature_frame(float celsius);
// 3, 0x00, 0x01
Bytes keep_alive_frame();

// A service manager's notification socket: a datagram socket the daemon
// finds through NOTIFY_SOCKET (set for the holder's lifetime), with every
// message it received and when.
class NotifySocket {
public:
    struct Message {
        std::string text;
        std::chrono::steady_clock::time_point time;
    };
    explicit NotifySocket(const std::string& path);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // Reads what has arrived within `timeout`; all messages so far.
    std::vector<Message> receive(std::chrono::milliseconds timeout);
    // Fills the socket's queue from other sockets until a send would block,
    // as a manager that stops reading leaves it; the messages sent.
    size_t fill();
    // Waits for a message equal to `text`; its index.
    std::optional<size_t> wait_for(const std::string& text, std::chrono::milliseconds timeout);
    // Messages equal to `text` among those received so far.
    size_t count(const std::string& text) const;

private:
    int fd_ = -1;
    nk_test::ScopedEnv env_;
    std::vector<Message> messages_;
};

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Mounts the board at the build tree's prefix, with the sensor at 0x4c
    // and, unless driver_bound is false, its driver bound.
    void mount_board(bool driver_bound = true);
    // Starts the daemon and waits for its banner; fails the test without one.
    void start_daemon();

    // Raw frames the BMC has received, oldest first.
    std::vector<Bytes> frames() const;
    // Waits until frame number `index` (0-based) has arrived; the frame.
    std::optional<Bytes> wait_frame(size_t index, std::chrono::milliseconds timeout) const;
    // Waits for the first frame equal to `frame` at or after `from`; its index.
    std::optional<size_t> wait_for(const Bytes& frame, size_t from, std::chrono::milliseconds timeout) const;

    std::string prefix() const { return NODEKEEPER_TEST_SYSROOT; }
    std::string netplan_path() const { return prefix() + "/etc/netplan/99-netcfg.yaml"; }

    nk_test::TempDir dir;
    nk_test::FakeCommands fakes{dir};
    nk_test::ScopedEnv lsb{"NK_FAKE_LSB_DESCRIPTION", test_os_description};
    std::unique_ptr<vboard::VirtualBoard> board;
    std::unique_ptr<DaemonProcess> daemon;  // declared after the board: it goes first
    // Set while a fake command hangs on it; removed first in TearDown so that
    // the command ends before the daemon is stopped.
    std::string hang_file;
};

}  // namespace e2e
