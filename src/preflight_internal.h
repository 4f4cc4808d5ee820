// Private interface of module preflight_check: one run's output and its
// checks, in two groups: the board's devices (preflight_board.cpp) and the
// system's files and tools (preflight_check.cpp). Each check writes one
// line (a few write two) and reads through the modules' own readers, so that
// it sees what the daemon sees.
#pragma once

#include <cstdio>
#include <string>

#include "fd_holder.h"

// Each path as the node names it (shown) and as this build opens it.
struct Node_Path {
    const char* shown;
    const char* opened;
};

class Check_Run {
public:
    explicit Check_Run(FILE* out) : out_(out) {}

    // "OK   <what>: <detail>"
    void pass(const char* what, const std::string& detail);
    // "FAIL <what>: <error>; hint: <hint>"; the run then fails.
    void fail(const char* what, const std::string& error, const char* hint);
    bool failed() const { return failed_; }

    Fd_Holder bus;  // the I2C bus, once check_bus opened it

private:
    FILE* out_;
    bool failed_ = false;
};

// The system's text for an errno value.
std::string get_error_text(int error);

// The board: the I2C bus, the BMC on it, the attention line, the temperature
// sensor and the EEPROM window. Probes and reads only.
void check_bus(Check_Run& run);
void check_bmc(Check_Run& run);
void check_attention_line(Check_Run& run);
void check_sensor(Check_Run& run);
void check_serial_number(Check_Run& run);

// The system: default route and address, the OS description, the netplan
// file (and netplan's verdict on a private copy), the tools on the path.
void check_default_address(Check_Run& run);
void check_os_description(Check_Run& run);
void check_netplan_file(Check_Run& run);
void check_tool(Check_Run& run, const char* name, const char* hint);
