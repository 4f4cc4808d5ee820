#include "program_signals.h"

#include <cstdio>
#include <cstring>

volatile sig_atomic_t program_stop_requested = 0;

namespace {

void set_stop_request(int) { program_stop_requested = 1; }

}  // namespace

void set_program_signals()
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = set_stop_request;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
