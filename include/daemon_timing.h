// The periods that drive the daemon's own schedules.
//
// The shipped daemon runs its main loop every two seconds (plus the pass's
// work) and stops the watchdog's pings once the link has shown no progress
// for 5 s. The simulation flavour that the tests run (nodekeeper_core_sim
// and nodekeeper-sim, built with NODEKEEPER_SIM_TIMING) runs the same loop
// ten times as fast: whatever is counted in passes (a keep-alive on the 11th
// idle pass, the description on the 60th) plays out in a tenth of the time,
// and the watchdog's window shrinks with it. The link's own timing (20 ms
// between transactions, a look at the attention line every second, a
// requester's 3 s) and the sensor's wait are the same in every flavour.
#pragma once

#include <chrono>

#if NODEKEEPER_SIM_TIMING
constexpr std::chrono::milliseconds main_loop_period{200};
// Above the link's one look a second with room for a busy test machine.
constexpr std::chrono::milliseconds link_progress_window{2000};
#else
constexpr std::chrono::milliseconds main_loop_period{2000};
constexpr std::chrono::milliseconds link_progress_window{5000};
#endif
