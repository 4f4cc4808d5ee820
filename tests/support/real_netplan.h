// The real netplan generator on a copy of a netplan file, in a root folder
// of the test's own: it writes only below that folder. Where systemd runs
// and is still starting, the generator would start units through
// /bin/systemctl: it then runs in a mount namespace of its own in which
// systemctl is /bin/false.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_env.h"

namespace nk_test {

constexpr char real_netplan[] = "/usr/sbin/netplan";

// Whether the real netplan is there. Under CI (CI set) a test that needs it
// fails without it; elsewhere it may skip.
inline bool has_real_netplan() { return access(real_netplan, X_OK) == 0; }
inline bool in_ci() { return getenv("CI") != nullptr && *getenv("CI") != '\0'; }

// Writes `text` as <root>/etc/netplan/99-netcfg.yaml (mode 0600) and runs
// "netplan generate --root-dir <root>"; its exit status (-1 when it did not
// exit), what it printed in `output`.
inline int run_real_netplan_generate(const std::string& text, const std::string& root, std::string& output)
{
    std::filesystem::create_directories(root + "/etc/netplan");
    const std::string copy = root + "/etc/netplan/99-netcfg.yaml";
    write_file(copy, text);
    chmod(copy.c_str(), 0600);
    std::string command = std::string(real_netplan) + " generate --root-dir " + root;
    if (file_exists("/run/systemd/system")) {
        command = "unshare --mount --propagation private sh -c "
                  "'mount --bind /bin/false /bin/systemctl && exec " +
                  command + "'";
    }
    const std::string printed = root + "/netplan-output";
    const int status = std::system((command + " >" + printed + " 2>&1").c_str());
    output = read_file(printed);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace nk_test
