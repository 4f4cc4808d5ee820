// Module preflight_check: `nodekeeper --check`, the administrator's one-shot
// look at what the daemon needs ("why does the BMC not see this node?").
//
// It may run while the daemon runs, so it only reads and probes: no sysfs
// write (no export, no edge, no new_device), no file written on the node,
// nothing sent to the BMC (the BMC is found with an SMBus quick probe, as
// i2cdetect does, which consumes nothing the BMC has pending). The one file
// it writes is a private temporary copy of the netplan file for
// "netplan generate --root-dir", removed afterwards.
//
// Output: one line per check, "OK   <what>: <detail>" or
// "FAIL <what>: <the system's error text>; hint: <what to look at>".
#pragma once

#include <cstdio>

// Runs every check, writes its lines to out. Returns 0 when all passed,
// 1 otherwise.
int run_preflight_check(FILE* out);
