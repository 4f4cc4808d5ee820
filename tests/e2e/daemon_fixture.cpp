#include "daemon_fixture.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace e2e {

namespace {

// A routing table as the kernel prints it: the default route on "lo".
const char* const route_table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                                "lo\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";

// Files the daemon works on under the prefix (plain folders, not the board).
void clear_prefix_files(const std::string& prefix)
{
    std::filesystem::create_directories(prefix + "/proc/net");
    std::filesystem::create_directories(prefix + "/etc/netplan");
    std::filesystem::remove(prefix + "/proc/net/route");
    std::filesystem::remove(prefix + "/etc/netplan/99-netcfg.yaml");
}

}  // namespace

Bytes description_frame(uint8_t subaddress, const std::string& text)
{
    Bytes frame = {static_cast<uint8_t>(text.size() + 6), 0x00, 0x55, 0x00, subaddress};
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(0x00);
    return frame;
}

Bytes temperature_frame(float celsius)
{
    Bytes frame = {9, 0x00, 0x45, 0x05, 0x00, 0, 0, 0, 0};
    std::memcpy(&frame[5], &celsius, sizeof celsius);
    return frame;
}

Bytes keep_alive_frame() { return {3, 0x00, 0x01}; }

void DaemonTest::SetUp()
{
    clear_prefix_files(prefix());
    nk_test::write_file(prefix() + "/proc/net/route", route_table);
}

NotifySocket::NotifySocket(const std::string& path) : env_("NOTIFY_SOCKET", path)
{
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("no notification socket");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (bind(fd_, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind " + path);
    }
}

NotifySocket::~NotifySocket() { close(fd_); }

std::vector<NotifySocket::Message> NotifySocket::receive(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        struct pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max(left, 0ms).count())) <= 0) {
            return messages_;
        }
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n >= 0) {
            messages_.push_back({std::string(buffer, static_cast<size_t>(n)), std::chrono::steady_clock::now()});
        }
    }
}

// The queue takes net.unix.max_dgram_qlen datagrams (10 by the kernel, 512
// where systemd sets it), and a sender's own buffer may run out before that:
// senders are added until a fresh one cannot send at all.
size_t NotifySocket::fill()
{
    struct sockaddr_un address = {};
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<struct sockaddr*>(&address), &length);
    size_t sent = 0;
    for (;;) {
        const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        size_t sent_by_this = 0;
        while (sendto(sender, "FILL=1", 6, MSG_DONTWAIT, reinterpret_cast<struct sockaddr*>(&address), length) == 6) {
            ++sent_by_this;
        }
        close(sender);
        sent += sent_by_this;
        if (sent_by_this == 0) {
            return sent;
        }
    }
}

std::optional<size_t> NotifySocket::wait_for(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (size_t seen = 0;;) {
        for (; seen < messages_.size(); ++seen) {
            if (messages_[seen].text == text) {
                return seen;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            return std::nullopt;
        }
        receive(std::min(left, 100ms));
    }
}

size_t NotifySocket::count(const std::string& text) const
{
    return static_cast<size_t>(
        std::count_if(messages_.begin(), messages_.end(), [&](const Message& m) { return m.text == text; }));
}

void DaemonTest::TearDown()
{
    if (!hang_file.empty()) {
        std::filesystem::remove(hang_file);
    }
    if (daemon) {
        // The daemon runs until it is killed: it must still be there, and end
        // by the signal.
        ASSERT_TRUE(daemon->running()) << "the daemon ended by itself:\n" << daemon->output();
        const int status = daemon->stop();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "wait status " << status;
        daemon.reset();
    }
    board.reset();
    clear_prefix_files(prefix());
}

void DaemonTest::mount_board(bool driver_bound)
{
    vboard::BoardOptions options;
    options.prefix = prefix();
    options.sensors_present = vboard::SENSOR_4C;
    options.sensors_bound = driver_bound ? vboard::SENSOR_4C : vboard::SENSOR_NONE;
    options.serial = test_serial;
    board = std::make_unique<vboard::VirtualBoard>(options);
}

void DaemonTest::start_daemon()
{
    daemon = std::make_unique<DaemonProcess>(NODEKEEPER_DAEMON_SIM, dir.path());
    ASSERT_TRUE(daemon->wait_output(banner_text, 10s)) << "no banner; the daemon printed:\n" << daemon->output();
}

std::vector<Bytes> DaemonTest::frames() const
{
    std::vector<Bytes> raw;
    for (const auto& frame : board->received_frames()) {
        raw.push_back(frame.raw);
    }
    return raw;
}

std::optional<Bytes> DaemonTest::wait_frame(size_t index, std::chrono::milliseconds timeout) const
{
    if (!board->wait_received(index + 1, timeout)) {
        return std::nullopt;
    }
    return board->received_frames()[index].raw;
}

std::optional<size_t> DaemonTest::wait_for(const Bytes& frame, size_t from, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (size_t i = from;; ++i) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto got = wait_frame(i, std::max(left, 0ms));
        if (!got) {
            return std::nullopt;
        }
        if (*got == frame) {
            return i;
        }
    }
}

}  // namespace e2e
