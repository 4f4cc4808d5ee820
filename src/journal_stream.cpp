#include "journal_stream.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "log_line.h"

namespace {

// Reads one decimal number from text up to `stop`; false unless it is all digits.
bool read_decimal(const char*& text, char stop, unsigned long long& value)
{
    if (*text < '0' || *text > '9') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = strtoull(text, &end, 10);
    if (errno != 0 || *end != stop) {
        return false;
    }
    text = end;
    return true;
}

}  // namespace

bool match_journal_stream(const char* journal_stream, int fd)
{
    if (journal_stream == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    const char* text = journal_stream;
    if (!read_decimal(text, ':', device)) {
        return false;
    }
    ++text;
    if (!read_decimal(text, '\0', inode)) {
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return false;
    }
    return static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

bool enable_journal_priorities()
{
    const bool journal = match_journal_stream(getenv("JOURNAL_STREAM"), STDOUT_FILENO);
    set_log_priority_prefix(journal);
    return journal;
}
