// The command line: no options runs the daemon, three options do one thing
// each, anything else is a usage error with exit status 2.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon_options.h"

namespace {

Daemon_Action parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "nodekeeper");
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return parse_daemon_options(static_cast<int>(args.size()), argv.data());
}

TEST(Options, EachOptionAloneAndEverythingElseIsAUsageError)
{
    EXPECT_EQ(parse({}), Daemon_Action::RUN);
    EXPECT_EQ(parse({"--check"}), Daemon_Action::CHECK);
    EXPECT_EQ(parse({"--version"}), Daemon_Action::VERSION);
    EXPECT_EQ(parse({"--help"}), Daemon_Action::HELP);
    EXPECT_EQ(parse({"-h"}), Daemon_Action::HELP);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--chek"}, {"check"}, {""}, {"-"}, {"--check", "--version"}, {"--help", "x"}, {"--check="}}) {
        EXPECT_EQ(parse(bad), Daemon_Action::USAGE_ERROR) << bad[0];
    }
}

TEST(Options, UsageErrorGoesToStandardErrorWithStatus2)
{
    std::string unknown = "--frobnicate";
    char* argv[] = {const_cast<char*>("nodekeeper"), unknown.data(), nullptr};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_daemon_option(Daemon_Action::USAGE_ERROR, 2, argv), 2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(
        err.rfind("nodekeeper: unknown option '--frobnicate'\nUsage: nodekeeper [--check | --version | --help]\n", 0),
        0u)
        << err;

    testing::internal::CaptureStdout();
    EXPECT_EQ(run_daemon_option(Daemon_Action::VERSION, 2, argv), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("nodekeeper V" NODEKEEPER_VERSION " (built ") + build_date + " " + build_time + ")\n");
}

}  // namespace
