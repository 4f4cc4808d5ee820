// Client processes of the socket server benchmark (see uds_bench_peers.h).
#include "uds_bench_peers.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "BMC_data_protocol.h"
#include "packet_image.h"

namespace {

const int connect_attempts = 100;  // 10 ms apart: the server may still be dropping earlier clients
const int request_period_ms = 10;
const int dribble_period_ms = 15;
const int unread_requests_per_period = 16;

struct Delivery {
    uint32_t sequence;
    uint64_t at_ns;
};

void set_non_blocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A connection the server has taken (it answered one request), -1 when none.
int connect_answered(const std::string& path)
{
    const std::vector<uint8_t> request = get_request_bytes(5);
    for (int attempt = 0; attempt < connect_attempts; attempt++) {
        int fd = connect_to_server(path);
        uint8_t answer[5];
        if (fd >= 0 && write_all(fd, request.data(), request.size()) && read_all(fd, answer, sizeof answer, 1000))
            return fd;
        if (fd >= 0)
            close(fd);
        usleep(10000);
    }
    return -1;
}

// Takes the whole packets at the front of bytes; for each broadcast of the
// reader's kind, its sequence number goes to sequences.
void take_packets(std::vector<uint8_t>* bytes, std::vector<uint32_t>* sequences)
{
    size_t at = 0;
    while (at < bytes->size()) {
        const size_t length = count_stream_packet_bytes((*bytes)[at]);
        if (bytes->size() - at < length)
            break;
        const uint8_t* packet = bytes->data() + at;
        if (length == fan_out_packet_length && (packet[1] & BMC::PACKET_BROADCAST_FLAG) != 0) {
            uint32_t sequence = 0;
            memcpy(&sequence, packet + BMC::packet_header_length, sizeof sequence);
            sequences->push_back(sequence);
        }
        at += length;
    }
    bytes->erase(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(at));
}

int run_fan_out_reader(const std::string& path, int count, bool requesting, int control_fd, int report_fd)
{
    std::vector<int> fds;
    for (int i = 0; i < count; i++) {
        int fd = connect_answered(path);
        if (fd < 0)
            return 1;
        set_non_blocking(fd);
        fds.push_back(fd);
    }
    int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i <= count; i++) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = static_cast<uint32_t>(i);
        epoll_ctl(epoll_fd, EPOLL_CTL_ADD, i < count ? fds[i] : control_fd, &event);
    }
    const Delivery ready{0, 0};
    if (write(report_fd, &ready, sizeof ready) != sizeof ready)
        return 1;

    const std::vector<uint8_t> request = get_request_bytes(5);
    std::vector<std::vector<uint8_t>> pending(count);
    std::map<uint32_t, int> received;
    uint64_t next_request = read_monotonic_ns() + request_period_ms * 1000000ull;
    std::vector<epoll_event> events(count + 1);
    for (;;) {
        int timeout_ms = -1;
        if (requesting) {
            const uint64_t now = read_monotonic_ns();
            timeout_ms = now >= next_request ? 0 : static_cast<int>((next_request - now + 999999) / 1000000);
        }
        const int ready_count = epoll_wait(epoll_fd, events.data(), count + 1, timeout_ms);
        for (int e = 0; e < ready_count; e++) {
            const int i = static_cast<int>(events[e].data.u32);
            if (i == count)
                return 0;  // the benchmark is done
            uint8_t buffer[4096];
            const ssize_t got = read(fds[i], buffer, sizeof buffer);
            if (got <= 0)
                continue;
            pending[i].insert(pending[i].end(), buffer, buffer + got);
            std::vector<uint32_t> sequences;
            take_packets(&pending[i], &sequences);
            for (uint32_t sequence : sequences) {
                if (++received[sequence] == count) {
                    const Delivery delivery{sequence, read_monotonic_ns()};
                    received.erase(sequence);
                    if (write(report_fd, &delivery, sizeof delivery) != sizeof delivery)
                        return 1;
                }
            }
        }
        if (requesting && read_monotonic_ns() >= next_request) {
            (void)!write(fds[0], request.data(), request.size());
            next_request += request_period_ms * 1000000ull;
        }
    }
}

int run_client_load(const std::string& path, int dribblers, int control_fd)
{
    const std::vector<uint8_t> request = get_request_bytes(255);
    std::vector<int> fds(dribblers, -1);
    std::vector<size_t> sent(dribblers, 0);
    int unread = -1;
    pollfd control{control_fd, POLLIN, 0};
    while (poll(&control, 1, dribble_period_ms) == 0) {
        for (int i = 0; i < dribblers; i++) {
            if (fds[i] < 0) {
                // Not waiting while the server's backlog is full.
                fds[i] = connect_to_server(path, SOCK_NONBLOCK);
                sent[i] = 0;
            }
            if (fds[i] >= 0 && send(fds[i], &request[sent[i] % request.size()], 1, MSG_DONTWAIT) != 1) {
                close(fds[i]);  // dropped by the server
                fds[i] = -1;
            } else {
                sent[i]++;
            }
        }
        if (unread < 0)
            unread = connect_to_server(path, SOCK_NONBLOCK);
        for (int k = 0; unread >= 0 && k < unread_requests_per_period; k++) {
            if (send(unread, request.data(), request.size(), MSG_DONTWAIT) == static_cast<ssize_t>(request.size()))
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                close(unread);  // dropped by the server
                unread = -1;
            }
            break;
        }
    }
    return 0;
}

}  // namespace

std::vector<uint8_t> get_request_bytes(size_t length)
{
    std::vector<uint8_t> bytes(length);
    bytes[0] = static_cast<uint8_t>(length);
    bytes[1] = 3;  // node 3
    bytes[2] = BMC::PACKET_RESPONSE_REQUIRE_FLAG | static_cast<uint8_t>(BMC::PACKET_TYPE::WRITE);
    for (size_t i = 5; i < length; i++)
        bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

int connect_to_server(const std::string& path, int flags)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

bool write_all(int fd, const uint8_t* bytes, size_t length)
{
    for (size_t sent = 0; sent < length;) {
        ssize_t n = write(fd, bytes + sent, length - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool read_all(int fd, uint8_t* bytes, size_t length, int timeout_ms)
{
    for (size_t received = 0; received < length;) {
        if (timeout_ms >= 0) {
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, timeout_ms) != 1)
                return false;
        }
        ssize_t n = read(fd, bytes + received, length - received);
        if (n <= 0)
            return false;
        received += static_cast<size_t>(n);
    }
    return true;
}

uint64_t read_monotonic_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

Peer_Process::~Peer_Process()
{
    if (control_fd_ >= 0)
        close(control_fd_);
    if (report_fd_ >= 0)
        close(report_fd_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Peer_Process::start(const std::function<int(int, int)>& body)
{
    int control[2];
    int report[2];
    if (pipe2(control, O_CLOEXEC) != 0)
        return false;
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(control[0]);
        close(control[1]);
        return false;
    }
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        close(control[1]);
        close(report[0]);
        _exit(body(control[0], report[1]));
    }
    close(control[0]);
    close(report[1]);
    control_fd_ = control[1];
    report_fd_ = report[0];
    return pid_ > 0;
}

bool Fan_Out_Reader::start(const std::string& path, int count, bool requesting)
{
    if (!process_.start([&](int control_fd, int report_fd) {
            return run_fan_out_reader(path, count, requesting, control_fd, report_fd);
        })) {
        return false;
    }
    // The reader reports sequence 0 once it holds every connection.
    return wait_for_delivery(0, 30000) != 0;
}

uint64_t Fan_Out_Reader::wait_for_delivery(uint32_t sequence, int timeout_ms)
{
    const uint64_t end = read_monotonic_ns() + static_cast<uint64_t>(timeout_ms) * 1000000ull;
    for (uint64_t now = read_monotonic_ns(); now < end; now = read_monotonic_ns()) {
        pollfd entry{process_.report_fd(), POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>((end - now) / 1000000) + 1) != 1)
            break;
        Delivery delivery;
        if (read(process_.report_fd(), &delivery, sizeof delivery) != sizeof delivery)
            break;
        if (delivery.sequence == sequence)
            return sequence == 0 ? 1 : delivery.at_ns;
        // A broadcast that came too late for its own wait.
    }
    return 0;
}

bool Client_Load::start(const std::string& path, int dribblers)
{
    return process_.start([&](int control_fd, int) { return run_client_load(path, dribblers, control_fd); });
}
