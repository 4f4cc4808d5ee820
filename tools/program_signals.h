// Process set-up shared by the example programs: line-buffered output,
// SIGPIPE ignored (a vanished peer fails a write instead of ending the
// program), and SIGINT/SIGTERM turned into a stop request. Installed without
// SA_RESTART, so a blocking poll or sleep returns early on a stop.
#pragma once

#include <signal.h>

extern volatile sig_atomic_t program_stop_requested;

void set_program_signals();
