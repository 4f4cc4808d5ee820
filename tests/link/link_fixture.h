// Fixture of the link tests: the virtual board at the build tree's prefix, a
// fresh working folder with the recording fakes first in PATH, the netplan
// file under the prefix removed before and after each case, and an error
// callback that behaves like the daemon's. The link is stopped before the
// board goes.
#pragma once

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "I2C_BMC_packet_thread.h"
#include "config.h"
#include "status_report.h"
#include "test_env.h"
#include "virtual_board.h"

namespace link_test {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The header bytes of a packet as they travel (min(length, 5) of them).
inline Bytes header_of(const BMC::Packet& packet)
{
    const Bytes all = {packet.packet_length, packet.packet_control1, packet.packet_control2,
                       static_cast<uint8_t>(packet.address), packet.subaddress};
    return Bytes(all.begin(), all.begin() + std::min<size_t>(packet.packet_length, 5));
}

inline std::atomic<int> error_calls{0};
inline std::atomic<int> last_error_code{-1};
// What get_link_write_failure() named in each call: the failed packet's
// header and the failures in a row. Written on the link thread.
using SeenFailure = std::pair<Bytes, unsigned>;
inline std::mutex seen_failures_mutex;
inline std::vector<SeenFailure> seen_failures;

inline std::vector<SeenFailure> failures_seen()
{
    std::lock_guard<std::mutex> lock(seen_failures_mutex);
    return seen_failures;
}

// The daemon's error callback (logs and turns the response into the 5-byte
// ERROR packet), counting its calls.
inline int daemon_error_handler(BMC::Packet* response_packet, unsigned char error_code)
{
    const Link_Write_Failure failure = get_link_write_failure();
    {
        std::lock_guard<std::mutex> lock(seen_failures_mutex);
        seen_failures.push_back({failure.packet ? header_of(*failure.packet) : Bytes{}, failure.failed_in_row});
    }
    BMC_Packet_Receive_Error_Handler(response_packet, error_code);
    last_error_code = error_code;
    ++error_calls;
    return 0;
}

inline void make_ping(BMC::Packet* packet, BMC::NODE_ID node, bool response_require)
{
    BMC::init_Packet(packet, node, false, BMC::PACKET_TYPE::PING, response_require, BMC::ADDRESS::DESCRIPTION, 0,
                     BMC::DATA_TYPE::UINT8, nullptr, 0);
}

// Wall-clock seconds, as the request's deadline counts them.
inline double wall_now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

// Polls until done() holds or the time is up; returns done().
inline bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 3000ms)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < end) {
        usleep(10 * 1000);
    }
    return done();
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        error_calls = 0;
        last_error_code = -1;
        seen_failures.clear();
        std::filesystem::create_directories(std::filesystem::path(netplan_config_path).parent_path());
        std::remove(netplan_config_path);
    }
    void TearDown() override
    {
        set_I2C_BMC_Packet_Thread_Stop();
        std::remove(netplan_config_path);
    }

    void mount(vboard::BoardOptions options = {})
    {
        options.prefix = NODEKEEPER_TEST_SYSROOT;
        board_ = std::make_unique<vboard::VirtualBoard>(options);
    }
    // Mounts the board (unless mounted) and starts the link.
    void start()
    {
        if (!board_) {
            mount();
        }
        ASSERT_EQ(init_I2C_BMC_Packet_Thread(nullptr, daemon_error_handler), 0);
    }

    std::vector<Bytes> received() const
    {
        std::vector<Bytes> frames;
        for (const auto& f : board_->received_frames()) {
            frames.push_back(f.raw);
        }
        return frames;
    }
    std::vector<std::string> calls() const { return fakes_.calls(); }
    bool has_call(const std::string& line) const
    {
        const auto c = calls();
        return std::find(c.begin(), c.end(), line) != c.end();
    }
    // Waits until the recording fakes have logged `line`.
    bool wait_call(const std::string& line) const
    {
        return wait_until([&] { return has_call(line); });
    }

    static void capture() { testing::internal::CaptureStdout(); }
    static std::string captured()
    {
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    nk_test::TempDir dir_;
    nk_test::ScopedCwd cwd_{dir_.path()};
    nk_test::FakeCommands fakes_{dir_};
    std::unique_ptr<vboard::VirtualBoard> board_;
};

}  // namespace link_test
