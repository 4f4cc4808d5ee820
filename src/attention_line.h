// The BMC's attention line as the link watches it: GPIO 480 prepared as an
// input that signals its fall, its value file kept open and in the link's
// epoll set. Used by the link thread only.
//
// A value file that cannot be read (the line unexported by somebody, its
// controller's driver reloaded) is dead for good: sysfs reports an error on
// every wait on it and fails every read. The line is then lost: its level is
// unknown, so the link does not read the BMC; the descriptor leaves the epoll
// set and is closed, with one [ERROR] line naming the path and the system's
// error. About once a second (line_recovery_period) the line is set up and
// its value file opened again, quietly, until that works; one [INFO] line
// then says the line is back.
#pragma once

#include <chrono>
#include <cstdint>

#include "board_io.h"
#include "fd_holder.h"

using Link_Clock = std::chrono::steady_clock;

// Between two attempts to get a lost line back.
constexpr std::chrono::milliseconds line_recovery_period{1000};
// How often a line without an interrupt is looked at.
constexpr int sampling_period_ms = 20;
// With an interrupt the idle link still looks at the line this often, so
// that a lost edge (or a line that died meanwhile) costs at most this long.
constexpr int interrupt_recheck_ms = 1000;

enum class Line_Level : uint8_t {
    LOW,   // the BMC holds a frame for the node
    HIGH,  // nothing for the node
    LOST,  // the value file cannot be read: the level is unknown
};

struct Attention_Line {
    int epoll_fd = -1;                  // the link's epoll set, which the value file joins
    Fd_Holder value_fd;                 // open while the line can be read, else -1
    bool interrupt = false;             // the line signals its fall (else it is sampled)
    Link_Clock::time_point retry_at{};  // while lost: the next attempt to get it back
    char value_path[gpio_path_buffer_size] = {};
};

// Prepares the line (export, "in", edge "falling"; "none" on a line without
// an interrupt, logged once) and puts its value file into epoll_fd's set.
// False when the value file cannot be opened or registered: logged as
// "[ERROR] I2C_BMC_Packet_Thread: open() error: <path>: <error>" (or
// epoll_ctl() error).
bool open_attention_line(Attention_Line& line, int epoll_fd);

// Reads the line's level; the read from offset 0 also re-arms its edge. A
// read that fails loses the line (see above); a lost line is LOST until
// recover_attention_line gets it back.
Line_Level read_attention_line(Attention_Line& line, Link_Clock::time_point now);

// For a lost line whose retry time has come: sets the line up again and
// reopens its value file, quietly; logs "[INFO] I2C_BMC_Packet_Thread:
// attention line back: <path>" when that worked, else tries again a
// line_recovery_period later. Does nothing for a line that is not lost.
void recover_attention_line(Attention_Line& line, Link_Clock::time_point now);

// Milliseconds an idle link may wait before it looks at the line again: the
// safety re-check of a line with an interrupt, the sampling period of one
// without, the time to the next attempt for a lost one.
int choose_idle_wait_ms(const Attention_Line& line, Link_Clock::time_point now);
