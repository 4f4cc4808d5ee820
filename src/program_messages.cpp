// The program runner's words (see program_runner.h): the failure line of a
// program, the message chosen from its output, the last line of its output.
#include <cstring>

#include "log_line.h"
#include "program_runner.h"

namespace {

std::string_view trimmed(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    return line;
}

// "<file>:<line>:<column>:" at the start: a file name without blanks.
bool starts_with_location(std::string_view line)
{
    std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos || line.substr(0, colon).find(' ') != std::string_view::npos) {
        return false;
    }
    for (int number = 0; number < 2; ++number) {
        std::size_t i = colon + 1;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
            ++i;
        }
        if (i == colon + 1 || i >= line.size() || line[i] != ':') {
            return false;
        }
        colon = i;
    }
    return true;
}

bool is_warning(std::string_view line)
{
    return line.find("WARNING") != std::string_view::npos || line.rfind("Warning", 0) == 0 ||
           line.rfind("warning", 0) == 0;
}

std::string cut_message(std::string_view line) { return std::string(trimmed(line.substr(0, program_message_max))); }

std::string seconds_text(std::chrono::milliseconds time)
{
    return time.count() % 1000 == 0 ? std::to_string(time.count() / 1000) + " s" : std::to_string(time.count()) + " ms";
}

}  // namespace

Program_Result run_program(const char* caller, const Program_Call& call)
{
    Program_Result result;
    run_program_call(&call, &result);
    if (caller != nullptr && !result.succeeded()) {
        log_line("[ERROR] %s: %s\n", caller, describe_program_failure(call, result).c_str());
    }
    return result;
}

std::string describe_program_failure(const Program_Call& call, const Program_Result& result)
{
    std::string text = call.name;
    switch (result.outcome) {
    case Program_Outcome::TIMED_OUT:
        return text + " did not finish within " + seconds_text(call.deadline) + "; its process group was ended";
    case Program_Outcome::INTERRUPTED:
        return text + " was interrupted; its process group was ended";
    case Program_Outcome::NOT_STARTED: {
        char buffer[128];
        return text + " could not be started: " + strerror_r(result.status, buffer, sizeof buffer);
    }
    case Program_Outcome::SIGNALLED:
        text += " was ended by signal " + std::to_string(result.status);
        break;
    case Program_Outcome::EXITED:
        text += " failed (exit " + std::to_string(result.status) + ")";
        break;
    }
    const std::string message = choose_program_message(result.errors, result.output);
    return message.empty() ? text : text + ": " + message;
}

std::string choose_program_message(std::string_view errors, std::string_view output)
{
    std::string all(errors);
    if (!all.empty() && all.back() != '\n') {
        all.push_back('\n');
    }
    all.append(output);
    std::string_view text(all);
    std::string_view first_plain;
    std::string_view traceback_last;
    bool in_traceback = false;
    bool in_warning = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (starts_with_location(line)) {
            return cut_message(line);
        }
        if (line.empty()) {
            in_warning = false;
            continue;
        }
        if (line.rfind("Traceback (most recent call last):", 0) == 0) {
            in_traceback = true;
        } else if (in_traceback) {
            traceback_last = line;
        }
        // A warning's message may go on over the next lines (glib's do),
        // up to a blank line or a line of another message.
        if (is_warning(line)) {
            in_warning = true;
            continue;
        }
        if (in_warning && line.rfind("Error", 0) != 0 && line.rfind("** ", 0) != 0) {
            continue;
        }
        in_warning = false;
        if (first_plain.empty() && !in_traceback) {
            first_plain = line;
        }
    }
    return cut_message(!traceback_last.empty() ? traceback_last : first_plain);
}

std::string last_output_piece(std::string_view output, std::size_t size)
{
    if (size < 2 || output.empty()) {
        return std::string();
    }
    const std::size_t piece = size - 1;
    std::string_view last = output;
    if (output.back() == '\n') {
        output.remove_suffix(1);
    }
    const std::size_t start = output.rfind('\n');
    last.remove_prefix(start == std::string_view::npos ? 0 : start + 1);
    // fgets reads the line in pieces of size - 1 bytes, LF included.
    return std::string(last.substr(((last.size() - 1) / piece) * piece));
}
