#include "daemon_options.h"

#include <string.h>

#include "buffer_sizes.h"
#include "config.h"
#include "preflight_check.h"

const char* const build_date = __DATE__;
const char* const build_time = __TIME__;

namespace {

const char* const usage_text = "Usage: nodekeeper [--check | --version | --help]\n"
                               "Management daemon of the node card: reports to the chassis BMC over I2C\n"
                               "and carries out its network commands. Without options it runs as the\n"
                               "service (nodekeeper.service) and logs to standard output.\n"
                               "\n"
                               "  --check    check the node's devices, files and tools once and exit\n"
                               "             (0 all passed, 1 something failed); writes nothing\n"
                               "  --version  print the version and build stamp and exit\n"
                               "  --help     print this text and exit\n";

}  // namespace

Daemon_Action parse_daemon_options(int argc, char** argv)
{
    if (argc <= 1) {
        return Daemon_Action::RUN;
    }
    if (argc > 2) {
        return Daemon_Action::USAGE_ERROR;
    }
    const char* option = argv[1];
    if (strcmp(option, "--check") == 0) {
        return Daemon_Action::CHECK;
    }
    if (strcmp(option, "--version") == 0) {
        return Daemon_Action::VERSION;
    }
    if (strcmp(option, "--help") == 0 || strcmp(option, "-h") == 0) {
        return Daemon_Action::HELP;
    }
    return Daemon_Action::USAGE_ERROR;
}

int run_daemon_option(Daemon_Action action, int argc, char** argv)
{
    switch (action) {
    case Daemon_Action::CHECK:
        return run_preflight_check(stdout);
    case Daemon_Action::VERSION: {
        char version[caller_buffer_size] = {};
        get_Config_Version(version);
        printf("nodekeeper %s (built %s %s)\n", version, build_date, build_time);
        return 0;
    }
    case Daemon_Action::HELP:
        fputs(usage_text, stdout);
        return 0;
    case Daemon_Action::RUN:
    case Daemon_Action::USAGE_ERROR:
        break;
    }
    if (argc > 2) {
        fprintf(stderr, "nodekeeper: one option at most\n");
    } else if (argc == 2) {
        fprintf(stderr, "nodekeeper: unknown option '%s'\n", argv[1]);
    }
    fputs(usage_text, stderr);
    return 2;
}
