// The one way out for every log line of the daemon and of the common
// library's socket server. Private to the project: not an installed header.
//
// log_line formats exactly as printf and writes the text to standard output
// (stdio's buffering as set by the program). A text without a line end is
// continued by the next call, as with printf.
#pragma once

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
