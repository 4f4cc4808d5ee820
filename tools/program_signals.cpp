#include "program_signals.h"

#include <cstdio>
#include <cstring>

volatile sig_atomic_t program_stop_requested = 0;

namespace {

void set_Stop_Request(int) { program_stop_requested = 1; }

}  // namespace

void set_Program_Signals() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  setvbuf(stderr, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = set_Stop_Request;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
