// Pure line edits of the configuration store (see config_edit.h).
#include "config_edit.h"

#include <cstring>

namespace config_edit {
namespace {

constexpr char comment_mark = '#';

// Splits a text into lines that keep their LF; calls f(line) for each.
template <typename F>
void for_each_line(std::string_view content, F&& f)
{
    while (!content.empty()) {
        const std::size_t lf = content.find('\n');
        const std::size_t len = lf == std::string_view::npos ? content.size() : lf + 1;
        f(content.substr(0, len));
        content.remove_prefix(len);
    }
}

std::string search_text(const char* name, char token)
{
    std::string s(name);
    s.push_back(token);
    return s;
}

bool contains(std::string_view text, const char* needle, std::size_t from = 0)
{
    return needle != nullptr && text.find(needle, from) != std::string_view::npos;
}

// True when the first '#' of the line stands before position `at`.
bool commented_before(std::string_view line, std::size_t at)
{
    const std::size_t hash = line.find(comment_mark);
    return hash != std::string_view::npos && hash < at;
}

void append_entry(std::string& out, const char* name, const char* data, char token)
{
    out += name;
    if (token != ' ') {
        out.push_back(token);
    }
    out.push_back(' ');
    out += data;
}

}  // namespace

void cut_first_token(std::string& text, char delimiter)
{
    const std::size_t start = text.find_first_not_of(delimiter);
    if (start == std::string::npos) {
        return;
    }
    const std::size_t end = text.find(delimiter, start);
    if (end != std::string::npos) {
        text.resize(end);
    }
}

std::optional<std::string> find_value(std::string_view content, const char* name, char token, const char* ignore_str,
                                      bool ignore_comment_flag)
{
    const std::string search = search_text(name, token);
    std::optional<std::string> value;
    for_each_line(content, [&](std::string_view line) {
        if (value) {
            return;
        }
        const std::size_t at = line.find(search);
        if (at == std::string_view::npos || contains(line, ignore_str, at)) {
            return;
        }
        if (!ignore_comment_flag && commented_before(line, at)) {
            return;
        }
        std::string_view rest = line.substr(at + std::strlen(name));
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t' || rest.front() == token)) {
            rest.remove_prefix(1);
        }
        std::string v(rest);
        cut_first_token(v, '\r');
        cut_first_token(v, '\n');
        value = std::move(v);
    });
    return value;
}

uint8_t replace_entries(std::string_view content, const char* name, const char* data, char token,
                        const char* ignore_str, std::string& out)
{
    const std::string search = search_text(name, token);
    uint8_t result = 2;
    out.clear();
    out.reserve(content.size() + search.size() + std::strlen(data) + 4);
    for_each_line(content, [&](std::string_view line) {
        const std::size_t at = line.find(search);
        if (at == std::string_view::npos || contains(line, ignore_str) || commented_before(line, at)) {
            out += line;
            return;
        }
        out += line.substr(0, at);
        append_entry(out, name, data, token);
        out.push_back('\n');
        result = 0;
    });
    if (result == 2) {
        out.push_back('\n');
        append_entry(out, name, data, token);
    }
    return result;
}

std::string comment_entries(std::string_view content, const char* name, bool set_comment, char token,
                            const char* ignore_str)
{
    const std::string search = search_text(name, token);
    std::string out;
    out.reserve(content.size() + 16);
    for_each_line(content, [&](std::string_view line) {
        const std::size_t at = line.find(search);
        if (at == std::string_view::npos || contains(line, ignore_str)) {
            out += line;
            return;
        }
        const bool marked = at >= 1 && line[at - 1] == comment_mark;
        if (set_comment && !marked) {
            out += line.substr(0, at);
            out.push_back(comment_mark);
            out += line.substr(at);
        } else if (!set_comment && marked) {
            out += line.substr(0, at - 1);
            out += line.substr(at);
        } else {
            out += line;
        }
    });
    return out;
}

}  // namespace config_edit
