#include "log_line.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>

namespace {

std::atomic<bool> priority_prefix{false};
// True while the next byte on standard output starts a line. Guarded by
// standard output's stream lock.
bool at_line_start = true;

bool starts_with(const char* line, size_t length, const char* tag)
{
    const size_t tag_length = strlen(tag);
    return length >= tag_length && memcmp(line, tag, tag_length) == 0;
}

const char* choose_priority(const char* line, size_t length)
{
    if (starts_with(line, length, "[ERROR]")) {
        return "<3>";
    }
    return "<6>";
}

// Writes text line by line with the priority prefix at each line start.
void write_with_prefix(const char* text, size_t length)
{
    flockfile(stdout);
    size_t at = 0;
    while (at < length) {
        const char* end = static_cast<const char*>(memchr(text + at, '\n', length - at));
        const size_t piece = end != nullptr ? static_cast<size_t>(end - (text + at)) + 1 : length - at;
        if (at_line_start) {
            // Every fixed line has its tag in the text that starts it.
            fputs(choose_priority(text + at, piece), stdout);
        }
        fwrite(text + at, 1, piece, stdout);
        at_line_start = text[at + piece - 1] == '\n';
        at += piece;
    }
    funlockfile(stdout);
}

}  // namespace

void set_log_priority_prefix(bool enable) { priority_prefix = enable; }

void log_line(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    if (!priority_prefix) {
        vprintf(format, arguments);
        va_end(arguments);
        return;
    }
    char small[256];
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(small, sizeof small, format, arguments);
    if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
        write_with_prefix(small, static_cast<size_t>(length));
    } else if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        vsnprintf(&text[0], text.size(), format, again);
        write_with_prefix(text.data(), static_cast<size_t>(length));
    }
    va_end(again);
    va_end(arguments);
}
