// The command language of bmc-sim: one command per input line, answered by
// output lines. Every command ends with exactly one line "ok ..." or
// "error ..."; multi-line answers (help, netplan) come before it, each line
// starting with the command's name.
#pragma once

#include <string>
#include <vector>

#include "virtual_board.h"

namespace bmc_sim {

struct Answer {
    std::vector<std::string> lines;
    bool quit = false;
};

// Carries out one input line on the board. An empty line gives no lines.
Answer run_command(vboard::VirtualBoard& board, const std::string& line);

// "len=... data=\"...\" raw=05002d0e06": a frame in one line.
std::string frame_line(const vboard::Bytes& raw);

// Millidegrees from "45500" or from degrees ("45.5", or any value below 1000
// in magnitude); false when the text is no number.
bool parse_temperature(const std::string& text, int* millidegrees);

// 4c, 4d, both, none
bool parse_sensor_set(const std::string& text, vboard::SensorSet* set);

}  // namespace bmc_sim
