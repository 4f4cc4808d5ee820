// Request/response round trip through the local socket packet server, next
// to the floor: the same bytes echoed by a thread over a connected Unix
// stream socketpair. Prints server/floor for each packet size at the end.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "UDS_BMC_packet_thread.h"

namespace {

bool set_all_write(int fd, const uint8_t* bytes, size_t length)
{
    for (size_t sent = 0; sent < length;) {
        ssize_t n = write(fd, bytes + sent, length - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool get_all_read(int fd, uint8_t* bytes, size_t length)
{
    for (size_t received = 0; received < length;) {
        ssize_t n = read(fd, bytes + received, length - received);
        if (n <= 0)
            return false;
        received += static_cast<size_t>(n);
    }
    return true;
}

// Byte image of a WRITE request of the given total length that asks for a
// response; the data bytes count up.
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

// Answers with a copy of the request: the response has the request's length.
int echo_handler(const BMC::Packet& request, BMC::Packet* response)
{
    BMC::init_Packet(response, request);
    return 0;
}

// The server, started on first use in a private folder and stopped at exit.
class ServerInstance {
public:
    ServerInstance()
    {
        char folder[] = "/tmp/uds-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr)
            return;
        folder_ = folder;
        path_ = folder_ + "/uds.sock";
        running_ = init_UDS_BMC_Packet_Thread(echo_handler, nullptr, path_.c_str()) == 0;
    }
    ~ServerInstance()
    {
        set_UDS_BMC_Packet_Thread_Stop();
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    bool running() const { return running_; }

    int get_connection() const
    {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address;
        memset(&address, 0, sizeof address);
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            fd = -1;
        }
        return fd;
    }

private:
    std::string folder_;
    std::string path_;
    bool running_ = false;
};

void BM_Server_Round_Trip(benchmark::State& state)
{
    static ServerInstance server;
    size_t length = static_cast<size_t>(state.range(0));
    int fd = server.running() ? server.get_connection() : -1;
    if (fd < 0) {
        state.SkipWithError("server not reachable");
        return;
    }
    std::vector<uint8_t> request = get_request_bytes(length);
    std::vector<uint8_t> response(length);
    for (auto _ : state) {
        if (!set_all_write(fd, request.data(), length) || !get_all_read(fd, response.data(), length)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length * 2));
}

void BM_Socketpair_Round_Trip(benchmark::State& state)
{
    size_t length = static_cast<size_t>(state.range(0));
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    std::thread echo([fd = fds[1], length] {
        std::vector<uint8_t> buffer(length);
        while (get_all_read(fd, buffer.data(), length) && set_all_write(fd, buffer.data(), length)) {
        }
    });
    std::vector<uint8_t> request = get_request_bytes(length);
    std::vector<uint8_t> response(length);
    for (auto _ : state) {
        if (!set_all_write(fds[0], request.data(), length) || !get_all_read(fds[0], response.data(), length)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    shutdown(fds[0], SHUT_RDWR);
    echo.join();
    close(fds[0]);
    close(fds[1]);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length * 2));
}

BENCHMARK(BM_Server_Round_Trip)->Arg(5)->Arg(255)->UseRealTime();
BENCHMARK(BM_Socketpair_Round_Trip)->Arg(5)->Arg(255)->UseRealTime();

// Console output as usual, keeping the real time per round trip of each
// benchmark (the median when repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions the median (reported after the single runs) wins.
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
                times_[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void print_ratios() const
    {
        for (const char* size : {"5", "255"}) {
            auto server = times_.find(std::string("BM_Server_Round_Trip/") + size + "/real_time");
            auto floor = times_.find(std::string("BM_Socketpair_Round_Trip/") + size + "/real_time");
            if (server == times_.end() || floor == times_.end() || floor->second <= 0)
                continue;
            printf("ratio server/floor, %s-byte packet: %.2f (%.0f ns vs %.0f ns per round trip)\n", size,
                   server->second / floor->second, server->second, floor->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
