// Module config: the node's identity (serial number, product name, version,
// OS description from lsb_release, else from os-release). The report files for mail notices are in
// config_report.cpp.
//
// Every text getter writes into the caller's buffer, cuts a text that does
// not fit, always terminates it and returns its length. All callers run on
// the main thread.
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "config.h"
#include "config_internal.h"
#include "fd_holder.h"
#include "log_line.h"
#include "platform_paths.h"

namespace {

// ---------------------------------------------------------------------------
// Serial number in the EEPROM window of physical memory
// ---------------------------------------------------------------------------

const char* const not_available = "N/A";

// Copies text and its NUL into buffer, cut to buffer_length - 1 characters
// and always terminated; nothing behind the NUL is written (a caller may
// pass a buffer of just the text's size). Returns the length placed.
unsigned int set_text_copy(char* buffer, unsigned int buffer_length, const char* text)
{
    if (buffer == nullptr || buffer_length == 0) {
        return 0;
    }
    const size_t length = strnlen(text, buffer_length - 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<unsigned int>(length);
}

// Text of the record at window offset `address` whose first byte is
// `config_code`, or "N/A", from the mapped window.
unsigned int get_EEPROM_Config(uint32_t address, uint8_t config_code, uint8_t* buffer, unsigned int buffer_length)
{
    if (access(eeprom_path, R_OK) != 0) {
        return copy_eeprom_record(nullptr, address, config_code, reinterpret_cast<char*>(buffer), buffer_length);
    }
    Eeprom_Window window;
    if (window.bytes() == nullptr) {
        log_line(window.open_failed() ? "[ERROR] %s: fopen() Error\n" : "[ERROR] %s: mmap() Error\n",
                 "get_EEPROM_Config");
    }
    return copy_eeprom_record(window.bytes(), address, config_code, reinterpret_cast<char*>(buffer), buffer_length);
}

// ---------------------------------------------------------------------------
// Fixed texts and OS description
// ---------------------------------------------------------------------------

const char* const product_name = "Tovana Ruvo";
const char* const version_text = "V" NODEKEEPER_VERSION;

// Said once, the first time the description comes from os-release.
bool os_release_noted = false;

}  // namespace

Eeprom_Window::Eeprom_Window() : fd_(open(eeprom_path, O_RDONLY | O_CLOEXEC))
{
    if (fd_.get() < 0) {
        open_failed_ = true;
        error_ = errno;
        return;
    }
    void* map = mmap(nullptr, eeprom_window_length, PROT_READ, MAP_PRIVATE, fd_.get(), eeprom_window_address);
    if (map == MAP_FAILED) {
        error_ = errno;
        return;
    }
    bytes_ = static_cast<const uint8_t*>(map);
}

Eeprom_Window::~Eeprom_Window()
{
    if (bytes_ != nullptr) {
        munmap(const_cast<uint8_t*>(bytes_), eeprom_window_length);
    }
}

unsigned int copy_eeprom_record(const uint8_t* window, uint32_t address, uint8_t code, char* buffer,
                                unsigned int buffer_length)
{
    // Zeroed beyond the copied part, so a text running to the window's end
    // is terminated there.
    uint8_t record[eeprom_window_length + 1] = {};
    const bool found = window != nullptr && address < eeprom_window_length && window[address] == code;
    if (found) {
        memcpy(record, window + address, eeprom_window_length - address);
    }
    const char* text = found ? reinterpret_cast<const char*>(record + 1) : not_available;
    return set_text_copy(buffer, buffer_length, text);
}

const char* parse_os_description(char* line)
{
    char* save = nullptr;
    char* text = strtok_r(line, "\r", &save);
    if (text == nullptr) {
        return nullptr;
    }
    save = nullptr;
    text = strtok_r(text, "\n", &save);
    if (text == nullptr) {
        return nullptr;
    }
    const char* tab = strchr(text, '\t');
    return tab != nullptr ? tab + 1 : nullptr;
}

int get_Config_Serial_Number(char* buffer, unsigned int buffer_length)
{
    return static_cast<int>(get_EEPROM_Config(serial_record_address, serial_record_code,
                                              reinterpret_cast<uint8_t*>(buffer), buffer_length));
}

int get_Config_Product_Name(char* buffer)
{
    return static_cast<int>(set_text_copy(buffer, caller_buffer_size, product_name));
}

int get_Config_Version(char* buffer)
{
    return static_cast<int>(set_text_copy(buffer, caller_buffer_size, version_text));
}

std::optional<std::string> parse_os_release_name(std::string_view text)
{
    constexpr std::string_view key = "PRETTY_NAME=";
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.substr(0, key.size()) != key) {
            continue;
        }
        line.remove_prefix(key.size());
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        // Shell syntax: single quotes hold text as it is, double quotes
        // allow the escapes \\ \" \$ \`.
        std::string value;
        const char quote = !line.empty() && (line.front() == '"' || line.front() == '\'') ? line.front() : '\0';
        if (quote != '\0') {
            line.remove_prefix(1);
        }
        for (std::size_t i = 0; i < line.size() && line[i] != quote; ++i) {
            if (line[i] == '\\' && quote != '\'' && i + 1 < line.size()) {
                ++i;
            }
            value.push_back(line[i]);
        }
        return value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
    return std::nullopt;
}

std::optional<std::string> read_os_release_name(const char* os_release, const char* os_release_fallback)
{
    for (const char* path : {os_release, os_release_fallback}) {
        Config_File file(path, nullptr);
        if (file.read()) {
            return parse_os_release_name(file.content());
        }
    }
    return std::nullopt;
}

namespace {
const char* const lsb_release_argv[] = {"lsb_release", "-d", nullptr};
}  // namespace

const Program_Call lsb_release_call{"lsb_release -d", lsb_release_argv, lsb_release_deadline};

std::optional<std::string> run_lsb_release(Program_Result& run)
{
    run_program_call(&lsb_release_call, &run);
    std::string line = last_output_piece(run.output, command_buffer_size);
    const char* description = run.succeeded() ? parse_os_description(&line[0]) : nullptr;
    return description != nullptr ? std::optional<std::string>(description) : std::nullopt;
}

int read_os_description(char* buffer, const char* os_release, const char* os_release_fallback)
{
    Program_Result run;
    const std::optional<std::string> description = run_lsb_release(run);
    if (run.outcome == Program_Outcome::TIMED_OUT) {
        log_line("[ERROR] %s: %s\n", "get_Config_OS_Info", describe_program_failure(lsb_release_call, run).c_str());
    }
    if (description) {
        return static_cast<int>(set_text_copy(buffer, caller_buffer_size, description->c_str()));
    }
    // No lsb_release (a minimal system has none) or no description from it:
    // the text lsb_release -d prints on Debian and Ubuntu, read directly.
    const std::optional<std::string> name = read_os_release_name(os_release, os_release_fallback);
    if (name && !os_release_noted) {
        os_release_noted = true;
        const std::string why =
            run.succeeded() ? "printed no description" : describe_program_failure(lsb_release_call, run);
        log_line("[INFO] %s: lsb_release -d gives no description (%s); the description comes from os-release "
                 "(PRETTY_NAME)\n",
                 "get_Config_OS_Info", why.c_str());
    }
    return static_cast<int>(set_text_copy(buffer, caller_buffer_size, name ? name->c_str() : ""));
}

int get_Config_OS_Info(char* buffer) { return read_os_description(buffer, os_release_path, os_release_fallback_path); }
