// Sandbox of the fuzz targets that run daemon code with side effects.
//
// Those targets link a copy of the daemon's modules built with the platform
// prefix `nk-fuzz-root`, a relative path: every platform file they touch
// (the netplan file above all) lies under the working directory, and
// init_fuzz_sandbox() makes that a fresh folder of this process (under
// /dev/shm when it exists, so the editor's fsync calls cost nothing), removed
// again when the process exits normally. Pass corpus folders and
// -artifact_prefix as absolute paths (scripts/fuzz does).
//
// No command ever runs: the targets are linked with -Wl,--wrap=popen,
// --wrap=pclose, and the wrappers (fake_commands.cpp) record each command
// line instead; a recorded "rm <netplan file>" removes that file, which is
// what the real command would do inside the sandbox.
#pragma once

#include <string>
#include <vector>

#include "fuzz_fail.h"

namespace nk_fuzz {

// Creates the sandbox, changes into it and creates etc/netplan under the
// prefix. Aborts when it cannot (a fuzz run outside it would not be safe).
// Targets that link sandbox_start.cpp call it from libFuzzer's start hook.
void init_fuzz_sandbox();

// Command lines the daemon code asked to run since the last call; clears them.
std::vector<std::string> take_commands();

}  // namespace nk_fuzz
