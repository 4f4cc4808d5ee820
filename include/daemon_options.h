// Module daemon_options: the daemon's command line.
//
//   nodekeeper            run the daemon (no options: the service's way)
//   nodekeeper --check    one-shot pre-flight of the node (module preflight_check)
//   nodekeeper --version  version and build stamp
//   nodekeeper --help     usage
//
// Anything else (an unknown option, an operand, more than one option) is a
// usage error: the usage goes to standard error and the exit status is 2.
#pragma once

#include <cstdint>
#include <cstdio>

enum class Daemon_Action : uint8_t { RUN = 0, CHECK = 1, VERSION = 2, HELP = 3, USAGE_ERROR = 4 };

// Build stamp of the banner and of --version: "Mmm dd yyyy" and "hh:mm:ss"
// (the compiler's; with SOURCE_DATE_EPOCH set, that moment).
extern const char* const build_date;
extern const char* const build_time;

// Pure: the action the arguments ask for.
Daemon_Action parse_daemon_options(int argc, char** argv);

// Carries out every action but RUN: prints what it asks for (usage errors
// name the offending argument) and returns the process's exit status.
int run_daemon_option(Daemon_Action action, int argc, char** argv);
