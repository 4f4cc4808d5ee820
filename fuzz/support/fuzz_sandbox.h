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
// No program ever runs: the targets are linked with
// -Wl,--wrap=run_program_call, and the wrapper (fake_commands.cpp) records
// each program's command line instead (a link without the wrap fails).
// posix_spawnp and posix_spawn are wrapped too, by guards that end the run:
// a program started any other way is a finding, never a real run.
#pragma once

#include <string>
#include <vector>

#include "fuzz_fail.h"

namespace nk_fuzz {

// Creates the sandbox, changes into it and creates etc/netplan under the
// prefix. Aborts when it cannot (a fuzz run outside it would not be safe).
// Targets that link sandbox_start.cpp call it from libFuzzer's start hook.
void init_fuzz_sandbox();

// Command lines (the arguments joined by spaces) the daemon code asked to
// run since the last call; clears them.
std::vector<std::string> take_commands();

}  // namespace nk_fuzz
