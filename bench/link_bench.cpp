// Latency of the BMC I2C link on an idle bus, against the virtual board at
// the test prefix (the link of nodekeeper_core_sim):
//   line fall -> frame read   from the BMC queueing a frame (the attention
//                             line falls) to the node's read of it;
//   queue -> bus write        from a report handed to
//                             set_I2C_BMC_Packet_Request to its write on the bus;
// each over N samples spaced far enough apart to measure the wake-up, not a
// backlog; and the loop iterations per second of the idle link.
//
//   link_bench [--samples N] [--spacing-ms MS] [--idle-seconds S]
//              (200, 50 and 5 by default)
//
// Needs /dev/fuse and root, as the board does; no other test may use the
// board meanwhile.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "I2C_BMC_packet_thread.h"
#include "virtual_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

struct Options {
    int samples = 200;
    int spacing_ms = 50;
    int idle_seconds = 5;
};

bool parse_options(int argc, char** argv, Options* options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (value <= 0) {
            return false;
        }
        if (std::strcmp(argv[i], "--samples") == 0) {
            options->samples = value;
        } else if (std::strcmp(argv[i], "--spacing-ms") == 0) {
            options->spacing_ms = value;
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0) {
            options->idle_seconds = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

int count_write_failure(BMC::Packet*, unsigned char) { return 0; }

void print_latency(const char* what, std::vector<double> samples_ms, const Options& options)
{
    std::sort(samples_ms.begin(), samples_ms.end());
    const size_t n = samples_ms.size();
    const double median = n % 2 == 1 ? samples_ms[n / 2] : (samples_ms[n / 2 - 1] + samples_ms[n / 2]) / 2;
    const size_t p99_index = std::min(n - 1, (n * 99 + 99) / 100 - 1);  // nearest rank
    std::printf("link_bench | %s: median %.3f ms, p99 %.3f ms, max %.3f ms (%zu samples, %d ms apart)\n", what, median,
                samples_ms[p99_index], samples_ms.back(), n, options.spacing_ms);
}

// Frames from the BMC, one at a time: line fall to the node's read.
std::vector<double> measure_receive(vboard::VirtualBoard& board, const Options& options)
{
    std::vector<Clock::time_point> queued;
    const size_t reads_before = board.transactions().size();
    for (int i = 0; i < options.samples; ++i) {
        const auto next = Clock::now() + std::chrono::milliseconds(options.spacing_ms);
        queued.push_back(Clock::now());
        board.queue_bmc_frame({3, 0x00, 0x01});  // a ping of the BMC: nothing to carry out
        board.wait_delivered(std::chrono::milliseconds(5000));
        std::this_thread::sleep_until(next);
    }
    std::vector<double> latency;
    const auto transactions = board.transactions();
    for (size_t i = reads_before; i < transactions.size() && latency.size() < queued.size(); ++i) {
        if (transactions[i].kind == vboard::TransactionKind::READ) {
            latency.push_back(Milliseconds(transactions[i].time - queued[latency.size()]).count());
        }
    }
    return latency;
}

// Reports, one at a time: handed to the link to written on the bus.
std::vector<double> measure_transmit(vboard::VirtualBoard& board, const Options& options)
{
    BMC::Packet ping;
    BMC::Packet response;
    BMC::init_Packet(&ping, BMC::NODE_ID::NAREL_1, false, BMC::PACKET_TYPE::PING, false, BMC::ADDRESS::DESCRIPTION, 0,
                     BMC::DATA_TYPE::UINT8, nullptr, 0);
    std::vector<Clock::time_point> queued;
    const size_t before = board.received_frames().size();
    for (int i = 0; i < options.samples; ++i) {
        const auto next = Clock::now() + std::chrono::milliseconds(options.spacing_ms);
        queued.push_back(Clock::now());
        set_I2C_BMC_Packet_Request(ping, &response);
        board.wait_received(before + i + 1, std::chrono::milliseconds(5000));
        std::this_thread::sleep_until(next);
    }
    std::vector<double> latency;
    const auto frames = board.received_frames();
    for (size_t i = before; i < frames.size() && i - before < queued.size(); ++i) {
        latency.push_back(Milliseconds(frames[i].time - queued[i - before]).count());
    }
    return latency;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, &options)) {
        std::fprintf(stderr, "usage: link_bench [--samples N] [--spacing-ms MS] [--idle-seconds S]\n");
        return 2;
    }
    vboard::BoardOptions board_options;
    board_options.prefix = NODEKEEPER_TEST_SYSROOT;
    vboard::VirtualBoard board(board_options);
    if (init_I2C_BMC_Packet_Thread(nullptr, count_write_failure) != 0) {
        std::fprintf(stderr, "link_bench: the link did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const uint64_t loops_before = get_link_loop_count();
    const auto idle_start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(options.idle_seconds));
    const double idle_seconds = std::chrono::duration<double>(Clock::now() - idle_start).count();
    const uint64_t loops = get_link_loop_count() - loops_before;
    std::printf("link_bench | idle link: %.2f loop iterations per second (%llu in %.1f s)\n", loops / idle_seconds,
                static_cast<unsigned long long>(loops), idle_seconds);

    const std::vector<double> receive = measure_receive(board, options);
    const std::vector<double> transmit = measure_transmit(board, options);
    set_I2C_BMC_Packet_Thread_Stop();
    if (receive.size() != static_cast<size_t>(options.samples) ||
        transmit.size() != static_cast<size_t>(options.samples)) {
        std::fprintf(stderr, "link_bench: frames went missing (%zu read, %zu written of %d)\n", receive.size(),
                     transmit.size(), options.samples);
        return 1;
    }
    print_latency("line fall -> frame read", receive, options);
    print_latency("queue -> bus write", transmit, options);
    return 0;
}
