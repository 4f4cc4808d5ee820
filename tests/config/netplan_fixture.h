// Fixture of the netplan tests: a fresh working folder with the recording
// fakes first in PATH, and the netplan file under the board's prefix removed
// before and after each case.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config_internal.h"
#include "test_env.h"

class NetplanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(std::filesystem::path(netplan_config_path).parent_path());
        std::remove(netplan_config_path);
    }
    void TearDown() override { std::remove(netplan_config_path); }

    static std::string netplan() { return nk_test::read_file(netplan_config_path); }
    static bool netplan_exists() { return nk_test::file_exists(netplan_config_path); }
    static void write_netplan(const std::string& text) { nk_test::write_file(netplan_config_path, text); }

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
};
