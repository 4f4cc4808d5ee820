// Every netplan file a sequence of the BMC's commands can leave, judged by
// the real netplan: the reachable states (the daemon's addressing mode and
// its file) are found breadth-first from the daemon's start, and the real
// "netplan generate --root-dir" runs once per distinct file, in a folder of
// the test's own.
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <queue>
#include <set>
#include <sstream>

#include "netplan_fixture.h"
#include "real_netplan.h"

namespace {

// The daemon's addressing mode and its file (none when missing).
using State = std::pair<NETWORK_MODE, std::optional<std::string>>;

struct Command {
    const char* name;
    std::function<void(const char* path)> run;
};

Command value_command(const char* name, const char* caller, NETWORK_CONFIG_TYPE type, const char* value)
{
    return {name, [=](const char* path) { set_network_value(path, caller, type, value); }};
}

Command mode_setting(const char* name, char byte)
{
    return {name, [=](const char* path) {
                const char mode[1] = {byte};
                set_netplan_setting(path, NETWORK_CONFIG_TYPE::MODE, mode);
            }};
}

// The BMC's commands, one value each (netplan judges the lines' shape, not
// which address they hold), the mode setting of set_Network_Config_Data,
// and a read (which, as apply, writes the template of a missing file).
const std::vector<Command> commands = {
    {"mode static", [](const char* path) { set_network_mode(path, 0); }},
    {"mode dhcp", [](const char* path) { set_network_mode(path, 1); }},
    mode_setting("mode setting dhcp", 0),
    mode_setting("mode setting static", 1),
    value_command("address", "set_Config_IP_Address", NETWORK_CONFIG_TYPE::IP_ADDRESS, "192.0.2.10"),
    value_command("netmask", "set_Config_Subnetmask", NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.0.0"),
    value_command("gateway", "set_Config_Gateway", NETWORK_CONFIG_TYPE::GATEWAY, "192.0.2.1"),
    value_command("dns1", "set_Config_Dns1", NETWORK_CONFIG_TYPE::DNS1, "192.0.2.53"),
    value_command("dns2", "set_Config_Dns2", NETWORK_CONFIG_TYPE::DNS2, "198.51.100.53"),
    {"read",
     [](const char* path) {
         char text[100] = {};
         get_netplan_setting(path, NETWORK_CONFIG_TYPE::IP_ADDRESS, text);
     }},
};

// The text as netplan reads it: without its comments (whole comment lines
// and what follows " #"), which YAML does not hand on.
std::string without_comments(const std::string& text)
{
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(' ');
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        const auto comment = line.find(" #");
        kept += line.substr(0, comment) + "\n";
    }
    return kept;
}

using NetplanStates = NetplanTest;

TEST_F(NetplanStates, EveryReachableFileIsOneNetplanAccepts)
{
    // Breadth-first from the start: DHCP mode, no file.
    const State daemon_start = {NETWORK_MODE::DHCP, std::nullopt};
    std::map<State, std::string> how = {{daemon_start, "start"}};
    std::queue<State> todo;
    todo.push(daemon_start);
    testing::internal::CaptureStdout();
    while (!todo.empty()) {
        const State state = todo.front();
        todo.pop();
        for (const Command& command : commands) {
            network_mode = state.first;
            state.second ? write_netplan(*state.second) : (void)std::remove(path());
            command.run(path());
            const State next = {network_mode, netplan_exists() ? std::optional<std::string>(netplan()) : std::nullopt};
            if (how.emplace(next, how[state] + ", " + command.name).second) {
                todo.push(next);
            }
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no reachable state makes a command fail";

    // Files that differ only in their comments are judged once: one file,
    // as the daemon left it, for each text netplan reads.
    std::map<std::string, std::pair<std::string, std::string>> files;  // -> a file and how it was reached
    std::set<std::string> distinct;
    for (const auto& [state, sequence] : how) {
        if (state.second) {
            files.emplace(without_comments(*state.second), std::make_pair(*state.second, sequence));
            distinct.insert(*state.second);
        }
    }
    if (!nk_test::has_real_netplan()) {
        if (nk_test::in_ci()) {
            FAIL() << nk_test::real_netplan << " is missing; CI needs it (package netplan.io)";
        }
        GTEST_SKIP() << nk_test::real_netplan << " is missing (package netplan.io)";
    }
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [read, file] : files) {
        const auto& [text, sequence] = file;
        nk_test::TempDir root;
        std::string output;
        EXPECT_EQ(nk_test::run_real_netplan_generate(text, root.path(), output), 0) << sequence << "\n"
                                                                                    << text << output;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cout << how.size() << " reachable states, " << distinct.size() << " distinct files, " << files.size()
              << " as netplan reads them, netplan generate " << took.count() << " s\n";
}

}  // namespace
