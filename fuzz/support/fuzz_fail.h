// Reporting a broken property from a fuzz target.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace nk_fuzz {

// Prints what broke and aborts; libFuzzer then saves the input as a crash.
[[noreturn]] inline void fail(const std::string& what)
{
    std::fprintf(stderr, "nk_fuzz: %s\n", what.c_str());
    std::abort();
}

}  // namespace nk_fuzz
