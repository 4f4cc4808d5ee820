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

#include <cerrno>
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

// Waits up to seconds (for ever when seconds is 0: no broadcasts to pace)
// for SIGINT or SIGTERM, which the calling thread keeps blocked. true when
// one came.
bool wait_for_stop_signal(const sigset_t& stop_signals, double seconds)
{
    const time_t whole = static_cast<time_t>(seconds);
    const timespec timeout{whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)};
    for (;;) {
        const int taken =
            seconds > 0 ? sigtimedwait(&stop_signals, nullptr, &timeout) : sigwaitinfo(&stop_signals, nullptr);
        if (taken > 0)
            return true;
        if (errno == EAGAIN)
            return false;
        // EINTR: another signal's handler ran; the wait starts again (an
        // interval is only a pace).
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

    // The stop signals stay blocked: main takes them with sigtimedwait, and
    // the server thread inherits the mask (a signal caught on that thread
    // would break its wait, a logged error). Main sleeps between broadcasts
    // and wakes for nothing else. Blocked before the handlers are set, so a
    // stop that comes meanwhile stays pending for sigtimedwait instead of
    // going to a handler whose flag nobody reads here.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    set_program_signals();
    int started = init_UDS_BMC_Packet_Thread(example_handler::set_response, nullptr, path);
    if (started != 0) {
        fprintf(stderr, "ruvo-packet-server: cannot serve on %s\n", path);
        return 1;
    }
    printf("ruvo-packet-server: serving on %s\n", path);

    for (unsigned int sequence = 1; !wait_for_stop_signal(stop_signals, interval); sequence++) {
        BMC::Packet packet;
        example_handler::set_broadcast(&packet, static_cast<BMC::NODE_ID>(node), sequence);
        set_UDS_BMC_Broadcast_Packet(packet);
    }

    set_UDS_BMC_Packet_Thread_Stop();
    printf("ruvo-packet-server: stopped\n");
    return 0;
}
