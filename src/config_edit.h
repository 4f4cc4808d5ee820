// Pure line edits of the configuration store: key/value lookup, entry
// replacement and comment marks over the text of a whole file. No I/O here;
// config_store.cpp reads and writes the files around these functions.
//
// A line matches when it contains the search text, the key immediately
// followed by the separator `token`, anywhere (a plain substring search).
// Lines keep their own line end; the last line of a text may have none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace config_edit {

// Value of the first line that holds the search text, is not excluded by
// `ignore_str` (given and found at or after the key) and, unless
// `ignore_comment_flag` is set, is not commented out (its first '#' before
// the key). The value starts behind the key, past every space, TAB and
// separator, and is cut at the first CR, then at the first LF, that follows
// at least one other character. nullopt when no line qualifies.
std::optional<std::string> find_value(std::string_view content, const char* name, char token, const char* ignore_str,
                                      bool ignore_comment_flag);

// Replaces every matching line that is neither commented out nor excluded
// (`ignore_str` anywhere in the line) by its indentation and the entry
// "name data" (token ' ') or "name<token> data", with LF. Appends
// "\nname data" when no line was replaced. Returns 0 (replaced) or 2
// (appended); the new text goes to `out`.
uint8_t replace_entries(std::string_view content, const char* name, const char* data, char token,
                        const char* ignore_str, std::string& out);

// Puts a '#' directly in front of the key on every matching, non-excluded
// line (set_comment) or removes the '#' directly in front of it (!set_comment).
// Lines already in the wanted state are kept. Never appends.
std::string comment_entries(std::string_view content, const char* name, bool set_comment, char token,
                            const char* ignore_str);

// Cuts `text` at the first `delimiter` that follows at least one other
// character, as the C library's tokenizer does for its first token.
void cut_first_token(std::string& text, char delimiter);

}  // namespace config_edit
