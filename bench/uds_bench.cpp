// The local socket packet server against its floor, in one run, pinned to
// one CPU (the server thread, the clients and the floor's echo thread share
// it):
//   BM_Server_Round_Trip/N      request and response of N bytes through the
//                               server (its echo handler);
//   BM_Socketpair_Round_Trip/N  the same bytes echoed by a thread over a
//                               connected Unix stream socketpair: the floor;
//   BM_Broadcast_Fan_Out/L      from set_UDS_BMC_Broadcast_Packet until the
//                               last of 100 connections (held by one reader
//                               process) has the packet; L=1: one of them
//                               sends a request every 10 ms meanwhile;
//   BM_Round_Trip_Among_Dribblers/D
//                               round trips of another client while D clients
//                               dribble their requests and one never reads.
// The scenarios (fan-out, dribblers) run for --scenario-seconds each and
// report medians and 99th percentiles as counters. Unless told otherwise the
// benchmarks are repeated 5 times in random order (interleaved rounds) and
// judged on their medians; the last lines give server/floor per size.
//
//   uds_bench [--cpu N] [--scenario-seconds S] [--server-log FILE] [benchmark flags]
//             (the first CPU the process may use, 3 s and /dev/null by default:
//             the server's log lines, which the dribblers cause by the
//             hundred, go to FILE, the results to standard output)
#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "UDS_BMC_packet_thread.h"
#include "uds_bench_peers.h"

namespace {

const int fan_out_clients = 100;
const int fan_out_timeout_ms = 1000;
const int fan_out_max_missed = 3;  // then the scenario gives up
const int dribbler_round_trip_timeout_ms = 3000;
double scenario_seconds = 3.0;
uint32_t broadcast_sequence = 0;

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
    const std::string& path() const { return path_; }

private:
    std::string folder_;
    std::string path_;
    bool running_ = false;
};

ServerInstance& use_server()
{
    static ServerInstance server;
    return server;
}

double compute_percentile(std::vector<double> samples, double share)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(share * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(rank, samples.size() - 1)];
}

void BM_Server_Round_Trip(benchmark::State& state)
{
    size_t length = static_cast<size_t>(state.range(0));
    int fd = use_server().running() ? connect_to_server(use_server().path()) : -1;
    if (fd < 0) {
        state.SkipWithError("server not reachable");
        return;
    }
    std::vector<uint8_t> request = get_request_bytes(length);
    std::vector<uint8_t> response(length);
    for (auto _ : state) {
        if (!write_all(fd, request.data(), length) || !read_all(fd, response.data(), length)) {
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
        while (read_all(fd, buffer.data(), length) && write_all(fd, buffer.data(), length)) {
        }
    });
    std::vector<uint8_t> request = get_request_bytes(length);
    std::vector<uint8_t> response(length);
    for (auto _ : state) {
        if (!write_all(fds[0], request.data(), length) || !read_all(fds[0], response.data(), length)) {
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

void BM_Broadcast_Fan_Out(benchmark::State& state)
{
    Fan_Out_Reader reader;
    if (!use_server().running() || !reader.start(use_server().path(), fan_out_clients, state.range(0) != 0)) {
        state.SkipWithError("reader could not connect");
        return;
    }
    std::vector<double> samples_us;
    int missed = 0;
    for (auto _ : state) {
        const uint64_t end = read_monotonic_ns() + static_cast<uint64_t>(scenario_seconds * 1e9);
        while (read_monotonic_ns() < end && missed < fan_out_max_missed) {
            const uint32_t sequence = ++broadcast_sequence;
            BMC::Packet packet;
            BMC::init_Packet(&packet, BMC::NODE_ID::NAREL_1, true, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::STATUS,
                             0, BMC::DATA_TYPE::UINT32, &sequence, 1);
            const uint64_t begun = read_monotonic_ns();
            set_UDS_BMC_Broadcast_Packet(packet);
            const uint64_t at = reader.wait_for_delivery(sequence, fan_out_timeout_ms);
            if (at == 0) {
                missed++;
            } else {
                samples_us.push_back(static_cast<double>(at - begun) / 1e3);
            }
            usleep(2000 + sequence % 3 * 1000);  // not in step with the 10 ms requests
        }
        state.SetIterationTime(samples_us.empty() ? fan_out_timeout_ms / 1e3
                                                  : compute_percentile(samples_us, 0.5) / 1e6);
    }
    state.counters["median_us"] = compute_percentile(samples_us, 0.5);
    state.counters["p99_us"] = compute_percentile(samples_us, 0.99);
    state.counters["delivered"] = static_cast<double>(samples_us.size());
    state.counters["missed"] = missed;
}

void BM_Round_Trip_Among_Dribblers(benchmark::State& state)
{
    Client_Load load;
    int fd = use_server().running() ? connect_to_server(use_server().path()) : -1;
    if (fd < 0 || !load.start(use_server().path(), static_cast<int>(state.range(0)))) {
        state.SkipWithError("server not reachable");
        return;
    }
    usleep(100000);  // the dribblers are inside their requests now
    const std::vector<uint8_t> request = get_request_bytes(5);
    std::vector<double> samples_us;
    for (auto _ : state) {
        const uint64_t end = read_monotonic_ns() + static_cast<uint64_t>(scenario_seconds * 1e9);
        while (read_monotonic_ns() < end) {
            uint8_t answer[5];
            const uint64_t begun = read_monotonic_ns();
            const bool answered = fd >= 0 && write_all(fd, request.data(), request.size()) &&
                                  read_all(fd, answer, sizeof answer, dribbler_round_trip_timeout_ms);
            samples_us.push_back(static_cast<double>(read_monotonic_ns() - begun) / 1e3);
            if (!answered) {
                // Out of step, or dropped: a fresh connection.
                if (fd >= 0)
                    close(fd);
                fd = connect_to_server(use_server().path());
            }
            usleep(5000);
        }
        state.SetIterationTime(compute_percentile(samples_us, 0.99) / 1e6);
    }
    if (fd >= 0)
        close(fd);
    state.counters["median_us"] = compute_percentile(samples_us, 0.5);
    state.counters["p99_us"] = compute_percentile(samples_us, 0.99);
    state.counters["max_us"] = compute_percentile(samples_us, 1.0);
    state.counters["round_trips"] = static_cast<double>(samples_us.size());
}

BENCHMARK(BM_Server_Round_Trip)->Arg(5)->Arg(255)->UseRealTime();
BENCHMARK(BM_Socketpair_Round_Trip)->Arg(5)->Arg(255)->UseRealTime();
BENCHMARK(BM_Broadcast_Fan_Out)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Round_Trip_Among_Dribblers)
    ->Arg(20)
    ->Arg(50)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

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

    void print_ratios(std::ostream& out) const
    {
        for (const char* size : {"5", "255"}) {
            auto server = times_.find(std::string("BM_Server_Round_Trip/") + size + "/real_time");
            auto floor = times_.find(std::string("BM_Socketpair_Round_Trip/") + size + "/real_time");
            if (server == times_.end() || floor == times_.end() || floor->second <= 0)
                continue;
            char line[128];
            snprintf(line, sizeof line,
                     "ratio server/floor, %s-byte packet: %.2f (%.0f ns vs %.0f ns per round trip)\n", size,
                     server->second / floor->second, server->second, floor->second);
            out << line;
        }
    }

private:
    std::map<std::string, double> times_;
};

// Pins the process (and every thread and child it makes from now on) to one
// CPU: cpu, or the first it may use when cpu is negative. -1 when it cannot.
int pin_to_one_cpu(int cpu)
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    for (int i = 0; cpu < 0 && i < CPU_SETSIZE; i++) {
        if (CPU_ISSET(i, &allowed))
            cpu = i;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    int cpu = -1;
    const char* server_log = "/dev/null";
    bool repetitions_given = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; i++) {
        if (std::strcmp(argv[i], "--cpu") == 0 && i + 1 < argc) {
            cpu = atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--scenario-seconds") == 0 && i + 1 < argc) {
            scenario_seconds = atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--server-log") == 0 && i + 1 < argc) {
            server_log = argv[++i];
        } else {
            repetitions_given = repetitions_given || std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
            args.push_back(argv[i]);
        }
    }
    char repetitions[] = "--benchmark_repetitions=5";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    if (!repetitions_given) {
        args.push_back(repetitions);
        args.push_back(interleaving);
    }
    cpu = pin_to_one_cpu(cpu);
    if (cpu < 0) {
        fprintf(stderr, "uds_bench: cannot pin to one CPU\n");
        return 1;
    }
    fprintf(stderr, "uds_bench: pinned to CPU %d\n", cpu);

    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    // Standard output's descriptor goes on to carry the results; the
    // server's printf lines go to the log.
    fflush(stdout);
    __gnu_cxx::stdio_filebuf<char> results_buffer(dup(1), std::ios::out);
    std::ostream results(&results_buffer);
    if (freopen(server_log, "w", stdout) == nullptr) {
        fprintf(stderr, "uds_bench: cannot write %s\n", server_log);
        return 1;
    }
    RatioReporter reporter;
    reporter.SetOutputStream(&results);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios(results);
    results.flush();
    benchmark::Shutdown();
    return 0;
}
