// Module journal_stream: tells whether standard output is the journal.
//
// A service manager that connects a service's standard output to the journal
// sets JOURNAL_STREAM to "<device>:<inode>" (decimal) of that stream, as
// sd-daemon(3) describes. The variable alone proves nothing (it is inherited
// by children whose output goes elsewhere): only when it names the very file
// open on the descriptor is the output the journal.
#pragma once

// True when journal_stream (the variable's value; null allowed) names the
// device and inode of the file open on fd. False for a missing or malformed
// value, or when fd cannot be examined.
bool match_journal_stream(const char* journal_stream, int fd);

// Turns on log_line's syslog priority prefix when standard output is the
// journal; leaves it off otherwise. Returns whether it turned it on.
bool enable_journal_priorities();
