// --check: the runner, its output, and the checks of the system: default
// route and address, the OS description, the netplan file and netplan's
// verdict on a private copy of it, the tools on the path. The checks of the
// board are in preflight_board.cpp.
#include "preflight_check.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config_internal.h"
#include "fd_holder.h"
#include "platform_paths.h"
#include "preflight_internal.h"

namespace {

const Node_Path route_table = {route_table_path + platform::sysroot_length, route_table_path};
// The store's netplan file.
const Node_Path netplan_file = {netplan_file_path + platform::sysroot_length, netplan_file_path};

// Runs a command through the shell; its last output line and exit status.
int run_command(const std::string& command, std::string& last_line)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "re");
    if (pipe == nullptr) {
        last_line = get_error_text(errno);
        return -1;
    }
    char line[256];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        if (line[0] != '\0' && line[0] != '\n') {
            last_line = line;
        }
    }
    while (!last_line.empty() && last_line.back() == '\n') {
        last_line.pop_back();
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// "netplan generate" on a private copy of the file's text.
void check_netplan_generate(Check_Run& run, const std::string& text)
{
    const char* what = "netplan generate";
    const char* tmp = getenv("TMPDIR");
    std::string root = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/nodekeeper-check-XXXXXX";
    if (mkdtemp(&root[0]) == nullptr) {
        run.fail(what, "temporary folder: " + get_error_text(errno), "set TMPDIR to a writable folder");
        return;
    }
    // The copy sits where netplan looks for it under the root folder.
    const std::string copy = root + netplan_file.shown;
    const std::string folder = copy.substr(0, copy.rfind('/'));
    bool copied = mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700) == 0 && mkdir(folder.c_str(), 0700) == 0;
    if (copied) {
        Fd_Holder fd(open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        copied = fd.get() >= 0 && write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    if (!copied) {
        run.fail(what, "temporary copy: " + get_error_text(errno), "set TMPDIR to a writable folder");
    } else {
        std::string line;
        const int status = run_command("netplan generate --root-dir " + root, line);
        if (status != 0) {
            run.fail(what, line.empty() ? "exit status " + std::to_string(status) : line,
                     "netplan does not accept the file; netplan would not apply it either");
        } else {
            run.pass(what, "accepts the file");
        }
    }
    nftw(root.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
}

// The first executable of that name in PATH.
std::string find_in_path(const char* name)
{
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string candidate = dirs.substr(at, end - at) + "/" + name;
        if (end > at && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        at = end + 1;
    }
    return "";
}

}  // namespace

void Check_Run::pass(const char* what, const std::string& detail)
{
    fprintf(out_, "OK   %s: %s\n", what, detail.c_str());
}

void Check_Run::fail(const char* what, const std::string& error, const char* hint)
{
    fprintf(out_, "FAIL %s: %s; hint: %s\n", what, error.c_str(), hint);
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
    const char* what = "lsb_release -d";
    std::string line;
    const int status = run_command("lsb_release -d", line);
    // The description as the daemon takes it from the line.
    std::string copy = line;
    const char* description = parse_os_description(&copy[0]);
    if (status != 0 || description == nullptr) {
        run.fail(what, line.empty() ? "no output (exit status " + std::to_string(status) + ")" : line,
                 "is lsb-release installed? the BMC gets the OS description from it");
        return;
    }
    run.pass(what, description);
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
    const std::string found = find_in_path(name);
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
