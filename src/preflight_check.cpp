// --check: its output, and the checks of the system: default route and
// address, the OS description, the netplan file and netplan's verdict on a
// private copy of it, the tools on the path. The checks of the
// board are in preflight_board.cpp.
#include "preflight_check.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config_internal.h"
#include "platform_paths.h"
#include "preflight_internal.h"

namespace {

const Node_Path route_table = {route_table_path + platform::sysroot_length, route_table_path};
// The store's netplan file.
const Node_Path netplan_file = {netplan_file_path + platform::sysroot_length, netplan_file_path};

// Raised by SIGINT or SIGTERM while netplan generate runs.
volatile sig_atomic_t interrupting_signal = 0;

void note_interrupt(int signal_number) { interrupting_signal = signal_number; }

// "netplan generate" on a private copy of the file's text (the daemon's own
// step before netplan apply). An interrupt ends netplan, the copy is
// removed, and then the signal ends the check as it would have.
void check_netplan_generate(Check_Run& run, const std::string& text)
{
    const char* what = "netplan generate";
    struct sigaction on_interrupt = {};
    on_interrupt.sa_handler = note_interrupt;
    sigemptyset(&on_interrupt.sa_mask);
    struct sigaction old_int;
    struct sigaction old_term;
    interrupting_signal = 0;
    sigaction(SIGINT, &on_interrupt, &old_int);
    sigaction(SIGTERM, &on_interrupt, &old_term);
    Generate_Options options;
    options.interrupt = &interrupting_signal;
    const Netplan_Verdict verdict = run_netplan_generate(text, options);
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    if (interrupting_signal != 0) {
        raise(interrupting_signal);
    }
    switch (verdict.judgement) {
    case Netplan_Judgement::ACCEPTED:
        run.pass(what, "accepts the file");
        break;
    case Netplan_Judgement::REJECTED:
        run.fail(what, verdict.message.empty() ? "exit status " + std::to_string(verdict.exit_status) : verdict.message,
                 "netplan does not accept the file; netplan would not apply it either");
        break;
    case Netplan_Judgement::NOT_RUN:
        run.fail(what, verdict.message, "the daemon runs netplan apply only on a file netplan generate accepts");
        break;
    }
}

}  // namespace

void Check_Run::pass(const char* what, const std::string& detail)
{
    fprintf(out_, "OK   %s: %s\n", what, detail.c_str());
    fflush(out_);
}

void Check_Run::fail(const char* what, const std::string& error, const char* hint)
{
    fprintf(out_, "FAIL %s: %s; hint: %s\n", what, error.c_str(), hint);
    fflush(out_);
    failed_ = true;
}

std::string get_error_text(int error) { return strerror(error); }

void check_default_address(Check_Run& run)
{
    const char* what = "default route and address";
    std::string interface;
    switch (find_default_route(route_table.opened, interface)) {
    case Route_Lookup::UNREADABLE:
        run.fail(what, std::string(route_table.shown) + ": " + get_error_text(errno), "is procfs mounted?");
        return;
    case Route_Lookup::NO_ROUTE:
        run.fail(what, "no default route", "see ip route and the netplan file; the daemon reports 0.0.0.0");
        return;
    case Route_Lookup::FOUND:
        break;
    }
    std::string address;
    const int error = find_interface_address(interface.c_str(), address);
    if (error != 0) {
        run.fail(what, "route via " + interface + ", no IPv4 address: " + get_error_text(error),
                 "see ip address; the daemon reports 0.0.0.0");
        return;
    }
    run.pass(what, "via " + interface + ", " + address);
}

void check_os_description(Check_Run& run)
{
    // The description as the daemon takes it.
    Program_Result result;
    const std::optional<std::string> description = run_lsb_release(result);
    if (description) {
        run.pass(lsb_release_call.name, *description);
        return;
    }
    const std::string why =
        result.succeeded() ? "no description in its output" : describe_program_failure(lsb_release_call, result);
    const std::optional<std::string> name = read_os_release_name(os_release_path, os_release_fallback_path);
    if (name) {
        run.pass("OS description", *name + " (from os-release; " + why + ")");
        return;
    }
    run.fail("OS description", why + "; no PRETTY_NAME in os-release either",
             "the BMC gets an empty OS description; install lsb-release or see /etc/os-release");
}

// The netplan file as the configuration store sees it: the store's own
// reader (read-only, logs nothing here) refuses what the daemon would refuse.
void check_netplan_file(Check_Run& run)
{
    const char* what = netplan_file.shown;
    Config_File file(netplan_file.opened, nullptr);
    if (!file.read()) {
        if (file.missing()) {
            run.pass(what, "not there yet (the daemon writes it at the BMC's first network command)");
        } else if (access(netplan_file.opened, R_OK) != 0 && errno == EACCES) {
            run.fail(what, file.refusal(), "run as root");
        } else {
            run.fail(what, file.refusal(),
                     ("the daemon refuses it as well: it reads and replaces only a regular file of at most " +
                      std::to_string(config_file_cap) + " bytes")
                         .c_str());
        }
        return;
    }
    struct stat status;
    if (stat(netplan_file.opened, &status) != 0) {
        run.fail(what, get_error_text(errno), "the file changed while it was checked; run the check again");
        return;
    }
    std::string link_note;
    char target[256] = {};
    if (readlink(netplan_file.opened, target, sizeof target - 1) > 0) {
        link_note = std::string(", a link to ") + target;
    }
    char detail[64];
    snprintf(detail, sizeof detail, "%zu bytes, mode %04o", file.content().size(),
             static_cast<unsigned>(status.st_mode & 07777));
    run.pass(what, detail + link_note);
    check_netplan_generate(run, file.content());
}

void check_tool(Check_Run& run, const char* name, const char* hint)
{
    const std::string found = find_program(name);
    if (found.empty()) {
        run.fail(name, "not found in PATH", hint);
    } else {
        run.pass(name, found);
    }
}

int run_preflight_check(FILE* out)
{
    Check_Run run(out);
    check_bus(run);
    check_bmc(run);
    check_attention_line(run);
    check_sensor(run);
    check_serial_number(run);
    check_default_address(run);
    check_os_description(run);
    check_netplan_file(run);
    check_tool(run, "netplan", "install netplan.io: the BMC's network commands need it");
    check_tool(run, "hostnamectl", "install systemd: the BMC's host name command needs it");
    fflush(out);
    return run.failed() ? 1 : 0;
}
