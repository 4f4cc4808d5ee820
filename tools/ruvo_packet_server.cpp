// ruvo-packet-server <socket-path> [--node N] [--interval SECONDS]
//
// Example host program of the local socket packet server: answers READ
// requests for the product name and version at address DESCRIPTION, echoes
// every other request, broadcasts an information packet every few seconds,
// and stops cleanly on SIGINT or SIGTERM.
#include <getopt.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "UDS_BMC_packet_thread.h"
#include "example_handler.h"
#include "packet_text.h"
#include "program_signals.h"

namespace {

void print_usage()
{
    fprintf(stderr, "usage: ruvo-packet-server <socket-path> [--node N] [--interval SECONDS]\n"
                    "  --node N            node id of the broadcasts (0..127, default 1)\n"
                    "  --interval SECONDS  time between broadcasts (default 5; 0 sends none)\n");
}

// Sleeps up to seconds, waking early when a stop was requested.
void set_idle(double seconds)
{
    const long step_ns = 50 * 1000 * 1000;
    for (double left = seconds; left > 0 && !program_stop_requested; left -= 0.05) {
        timespec step{0, step_ns};
        nanosleep(&step, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned int node = 1;
    double interval = 5.0;
    const option options[] = {{"node", required_argument, nullptr, 'n'},
                              {"interval", required_argument, nullptr, 'i'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "n:i:h", options, nullptr)) != -1;) {
        char* end = nullptr;
        if (c == 'n' && packet_text::get_number(optarg, BMC::PACKET_NODE_ID_MASK, &node))
            continue;
        if (c == 'i' && (interval = strtod(optarg, &end)) >= 0 && *end == '\0')
            continue;
        print_usage();
        return c == 'h' ? 0 : 2;
    }
    if (optind + 1 != argc) {
        print_usage();
        return 2;
    }
    const char* path = argv[optind];

    set_program_signals();

    // The server thread inherits a mask that keeps the stop signals for main:
    // a signal caught on that thread would break its wait (a logged error).
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    int started = init_UDS_BMC_Packet_Thread(example_handler::set_response, nullptr, path);
    pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
    if (started != 0) {
        fprintf(stderr, "ruvo-packet-server: cannot serve on %s\n", path);
        return 1;
    }
    printf("ruvo-packet-server: serving on %s\n", path);

    for (unsigned int sequence = 1; !program_stop_requested; sequence++) {
        set_idle(interval > 0 ? interval : 1.0);
        if (program_stop_requested || interval <= 0)
            continue;
        BMC::Packet packet;
        example_handler::set_broadcast(&packet, static_cast<BMC::NODE_ID>(node), sequence);
        set_UDS_BMC_Broadcast_Packet(packet);
    }

    set_UDS_BMC_Packet_Thread_Stop();
    printf("ruvo-packet-server: stopped\n");
    return 0;
}
