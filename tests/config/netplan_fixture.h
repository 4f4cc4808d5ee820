// Fixture of the netplan tests: a fresh working folder with the recording
// fakes first in PATH, holding the netplan file the operations work on (the
// functions that take the file's path; the fixed-name functions pass the
// platform's).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config_internal.h"
#include "test_env.h"

class NetplanTest : public ::testing::Test {
protected:
    std::string netplan() const { return nk_test::read_file(path_); }
    bool netplan_exists() const { return nk_test::file_exists(path_); }
    void write_netplan(const std::string& text) const { nk_test::write_file(path_, text); }
    const char* path() const { return path_.c_str(); }

    // A value command of the BMC (address, gateway, netmask, name servers)
    // on the fixture's file, logged under the command's name.
    bool value(NETWORK_CONFIG_TYPE type, std::string text) const
    {
        static const char* const names[] = {"",
                                            "set_Config_IP_Address",
                                            "set_Config_Gateway",
                                            "set_Config_Subnetmask",
                                            "set_Config_Dns1",
                                            "set_Config_Dns2"};
        return set_network_value(path(), names[static_cast<int>(type)], type, text.data());
    }

    // The static template with one of its lines replaced.
    static std::string static_with(const std::string& from, const std::string& to)
    {
        std::string s = netplan_static_default_config;
        const auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    }

    nk_test::TempDir dir;
    nk_test::ScopedCwd cwd{dir.path()};
    nk_test::FakeCommands fakes{dir};
    const std::string path_ = dir.file("99-netcfg.yaml");
};
