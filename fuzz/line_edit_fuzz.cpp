// The configuration store's line editor over arbitrary file contents, keys,
// separators, exclusion texts and values. Besides the sanitizers, checks
// what the editor promises whatever the input:
//  - replace_entries returns 0 or 2; 2 means the text plus "\n<entry>";
//    without line ends in key and value, a replacement adds no line;
//  - comment_entries never adds or removes a line, and (for a key and
//    separator without '#') commenting twice changes nothing more than
//    commenting once;
//  - for a plain key, separator and value (the shapes the daemon uses) and
//    no exclusion text, the value written is the value found afterwards.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "config_edit.h"
#include "support/fuzz_fail.h"

namespace {

size_t count_line_ends(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// Lines of a text: its line ends, plus one for a last line without one.
size_t count_lines(const std::string& text)
{
    return count_line_ends(text) + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

bool only_chars(const std::string& text, const char* allowed)
{
    return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

std::string entry_of(const std::string& name, char token, const std::string& data)
{
    return token == ' ' ? name + " " + data : name + token + " " + data;
}

void check_replace(const std::string& content, const std::string& name, char token, const char* ignore,
                   const std::string& data)
{
    std::string out;
    const uint8_t result = config_edit::replace_entries(content, name.c_str(), data.c_str(), token, ignore, out);
    if (result == 2) {
        if (out != content + "\n" + entry_of(name, token, data)) {
            nk_fuzz::fail("an appended entry is not the text plus \"\\n<entry>\"");
        }
        return;
    }
    if (result != 0) {
        nk_fuzz::fail("replace_entries returned " + std::to_string(result));
    }
    const bool single_line =
        name.find('\n') == std::string::npos && data.find('\n') == std::string::npos && token != '\n';
    if (single_line && count_lines(out) != count_lines(content)) {
        nk_fuzz::fail("a replacement changed the number of lines");
    }
    const char* plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    const bool plain_shapes = ignore == nullptr && only_chars(name, plain) &&
                              only_chars(data, "abcdefghijklmnopqrstuvwxyz0123456789./,[]_-") &&
                              (token == ':' || token == '=' || token == ' ');
    if (plain_shapes) {
        const auto found = config_edit::find_value(out, name.c_str(), token, nullptr, false);
        if (!found || *found != data) {
            nk_fuzz::fail("the value written is not the value found: \"" + data + "\" / \"" +
                          (found ? *found : std::string("(none)")) + "\"");
        }
    }
}

void check_comment(const std::string& content, const std::string& name, char token, const char* ignore,
                   bool set_comment)
{
    const std::string once = config_edit::comment_entries(content, name.c_str(), set_comment, token, ignore);
    if (count_line_ends(once) != count_line_ends(content)) {
        nk_fuzz::fail("comment_entries changed the number of lines");
    }
    // A key or separator holding the comment mark itself has no stable
    // commented form: "#" before the search text "#" is a new match.
    const bool plain_key = name.find('#') == std::string::npos && token != '#';
    if (set_comment && plain_key && config_edit::comment_entries(once, name.c_str(), true, token, ignore) != once) {
        nk_fuzz::fail("commenting a second time changed the text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    // The editor takes C strings: each text ends at its first NUL.
    const std::string name = in.ConsumeRandomLengthString(40).c_str();
    const char token = in.ConsumeIntegral<char>();
    const bool has_ignore = in.ConsumeBool();
    const std::string ignore_text = in.ConsumeRandomLengthString(16).c_str();
    const char* ignore = has_ignore ? ignore_text.c_str() : nullptr;
    const bool flag = in.ConsumeBool();
    const std::string data = in.ConsumeRandomLengthString(120).c_str();
    const std::string content = in.ConsumeRemainingBytesAsString();

    const auto value = config_edit::find_value(content, name.c_str(), token, ignore, flag);
    if (value && value->size() > content.size()) {
        nk_fuzz::fail("a value longer than the text it came from");
    }
    check_replace(content, name, token, ignore, data);
    check_comment(content, name, token, ignore, flag);

    std::string cut = data;
    config_edit::cut_first_token(cut, token);
    if (cut.size() > data.size() || data.compare(0, cut.size(), cut) != 0) {
        nk_fuzz::fail("cut_first_token did not keep a prefix of its text");
    }
    return 0;
}
