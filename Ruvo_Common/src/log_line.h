// The one way out for every log line of the daemon and of the common
// library's socket server. Private to the project: not an installed header.
//
// log_line formats exactly as printf and writes the text to standard output
// (stdio's buffering as set by the program). A text without a line end is
// continued by the next call, as with printf.
//
// When the priority prefix is on (standard output is the journal), every
// line gets the syslog priority the journal reads from its start: "<3>" (err)
// for a line that begins with "[ERROR]", "<6>" (info) for every other line:
// "[INFO]" lines and untagged text alike, so that text which happens to
// begin with "<n>" is never taken for a priority. The prefix goes where a line
// starts and only there: the continuation of a line without a line end gets
// none. Calls from several threads are written whole, one after another.
#pragma once

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Turns the priority prefix on or off (off at program start).
void set_log_priority_prefix(bool enable);
