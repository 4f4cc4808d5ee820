// bmc-sim: mounts the virtual node board at a platform prefix and plays the
// BMC on it, driven line by line through standard input.
//
//   bmc-sim <prefix> [--sensor 4c|4d|both|none] [--bound 4c|4d|both|none]
//                    [--temp MILLIDEG] [--serial TEXT] [--no-eeprom] [--no-bmc]
//                    [--no-irq]
//
// Output lines: "ready" once mounted; "frame ..." for every frame the node
// sends; per command the lines of bmc_sim_commands.h. End of input, "quit",
// SIGINT or SIGTERM unmount the board and end the program with status 0.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "bmc_sim_commands.h"
#include "virtual_board.h"

namespace {

constexpr int frame_poll_ms = 20;  // how soon a frame of the node is printed

void usage()
{
    std::fprintf(stderr, "usage: bmc-sim <prefix> [--sensor 4c|4d|both|none] [--bound 4c|4d|both|none]\n"
                         "               [--temp MILLIDEG] [--serial TEXT] [--no-eeprom] [--no-bmc] [--no-irq]\n");
}

bool parse_options(int argc, char** argv, vboard::BoardOptions* options)
{
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    options->prefix = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string flag = argv[i];
        const bool has_value = i + 1 < argc;
        if (flag == "--no-eeprom") {
            options->eeprom = false;
        } else if (flag == "--no-bmc") {
            options->bmc_present = false;
        } else if (flag == "--no-irq") {
            options->attention_interrupt = false;
        } else if (flag == "--sensor" && has_value) {
            if (!bmc_sim::parse_sensor_set(argv[++i], &options->sensors_present)) {
                return false;
            }
        } else if (flag == "--bound" && has_value) {
            if (!bmc_sim::parse_sensor_set(argv[++i], &options->sensors_bound)) {
                return false;
            }
        } else if (flag == "--temp" && has_value) {
            if (!bmc_sim::parse_temperature(argv[++i], &options->temperature)) {
                return false;
            }
        } else if (flag == "--serial" && has_value) {
            options->serial = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

void print_line(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Prints the frames the node sent since the last call.
void print_new_frames(const vboard::VirtualBoard& board, size_t* printed)
{
    if (!board.wait_received(*printed + 1, std::chrono::milliseconds(0))) {
        return;
    }
    const auto frames = board.received_frames();
    for (; *printed < frames.size(); ++*printed) {
        print_line("frame " + bmc_sim::frame_line(frames[*printed].raw));
    }
}

// Serves standard input and the stop signals until quit, end of input or a signal.
void serve(vboard::VirtualBoard& board, int signal_fd)
{
    std::string pending_input;
    size_t printed = 0;
    bool done = false;
    while (!done) {
        struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signal_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, frame_poll_ms);
        print_new_frames(board, &printed);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            break;  // end of input
        }
        pending_input.append(buffer, static_cast<size_t>(n));
        for (size_t end; !done && (end = pending_input.find('\n')) != std::string::npos;) {
            const std::string line = pending_input.substr(0, end);
            pending_input.erase(0, end + 1);
            const bmc_sim::Answer answer = bmc_sim::run_command(board, line);
            print_new_frames(board, &printed);  // what a wait saw comes before its answer
            for (const std::string& out : answer.lines) {
                print_line(out);
            }
            done = answer.quit;
        }
    }
    print_new_frames(board, &printed);
}

}  // namespace

int main(int argc, char** argv)
{
    vboard::BoardOptions options;
    if (!parse_options(argc, argv, &options)) {
        usage();
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    // Blocked before the board's threads exist, so only the signalfd sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
    if (signal_fd < 0) {
        std::perror("bmc-sim: signalfd");
        return 1;
    }
    try {
        vboard::VirtualBoard board(options);
        print_line("ready");
        serve(board, signal_fd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bmc-sim: %s\n", e.what());
        close(signal_fd);
        return 1;
    }
    close(signal_fd);
    return 0;
}
