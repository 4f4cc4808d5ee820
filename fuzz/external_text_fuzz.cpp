// The texts from outside that the daemon parses, each through its pure
// parser: an output line of "lsb_release -d", the lines of /proc/net/route,
// the EEPROM window with the serial-number record (configuration module) and
// the sensor's temp2_input. The first byte chooses the text. Besides the
// sanitizers, checks:
//  - the OS description lies behind the line's first TAB and holds no line
//    end;
//  - a route line taken is not the header, has an all-zero field, and the
//    interface name is its text before the first TAB or line end;
//  - the serial number fits the caller's buffer with its NUL, nothing is
//    written behind it, and it is the record's text or "N/A";
//  - a reading is a finite number of degrees within the range of the
//    driver's int of millidegrees, and a plain decimal number of millidegrees
//    reads as that number / 1000.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config_internal.h"
#include "sensor_internal.h"
#include "support/fuzz_fail.h"

namespace {

using nk_fuzz::fail;

void check_os_description(const std::string& text)
{
    // The command runner leaves at most 127 bytes, NUL-terminated.
    char line[command_buffer_size] = {};
    std::memcpy(line, text.data(), std::min(text.size(), sizeof line - 1));
    const char* description = parse_os_description(line);
    if (description == nullptr) {
        return;
    }
    if (description <= line || description >= line + sizeof line || description[-1] != '\t' ||
        std::memchr(line, '\t', static_cast<std::size_t>(description - 1 - line)) != nullptr) {
        fail("the description does not start behind the first TAB");
    }
    if (std::strpbrk(description, "\r\n") != nullptr) {
        fail("the description holds a line end");
    }
}

void check_route_lines(const std::string& text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string::npos ? text.size() : lf + 1;
        const std::string line = text.substr(start, end - start);
        start = end;
        std::string if_name;
        if (!parse_route_interface(line.c_str(), if_name)) {
            continue;
        }
        const std::string seen = line.c_str();  // the parser reads up to the first NUL
        if (seen.find("Destination") != std::string::npos || seen.find("00000000") == std::string::npos) {
            fail("a header line or a line without an all-zero field was taken");
        }
        if (seen.compare(0, if_name.size(), if_name) != 0 || if_name.find_first_of("\t\n") != std::string::npos ||
            (if_name.size() < seen.size() && seen[if_name.size()] != '\t' && seen[if_name.size()] != '\n')) {
            fail("the interface name is not the text before the first TAB: \"" + if_name + "\"");
        }
    }
}

void check_eeprom_window(FuzzedDataProvider& in)
{
    const uint32_t address = in.ConsumeIntegralInRange<uint32_t>(0, eeprom_window_length + 8);
    const uint8_t code = in.ConsumeIntegral<uint8_t>();
    const unsigned int length = in.ConsumeIntegralInRange<unsigned int>(0, eeprom_window_length + 8);
    const bool mapped = in.ConsumeBool();
    std::vector<uint8_t> window = in.ConsumeBytes<uint8_t>(eeprom_window_length);
    window.resize(eeprom_window_length, 0);

    constexpr char guard = '\xa5';
    std::vector<char> buffer(length + 1, guard);
    const unsigned int placed =
        copy_eeprom_record(mapped ? window.data() : nullptr, address, code, buffer.data(), length);
    if (buffer[length] != guard) {
        fail("a byte behind the caller's buffer was written");
    }
    if (length == 0) {
        if (placed != 0) {
            fail("text placed into a buffer of no bytes");
        }
        return;
    }
    if (placed >= length || buffer[placed] != '\0' || std::strlen(buffer.data()) != placed) {
        fail("the serial number is not terminated within the buffer");
    }
    std::string expected = "N/A";
    if (mapped && address < eeprom_window_length && window[address] == code) {
        const char* text = reinterpret_cast<const char*>(window.data() + address + 1);
        expected.assign(text, strnlen(text, eeprom_window_length - address - 1));
    }
    if (expected.compare(0, placed, buffer.data()) != 0 || (placed < expected.size() && placed != length - 1)) {
        fail("the serial number is not the record's text cut to the buffer");
    }
}

// Millidegrees of a text that is blanks, an optional '-' and one to nine
// digits (then anything but a digit); false for any other text.
bool plain_millidegrees(const char* text, long& value)
{
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    const bool negative = *text == '-';
    text += negative ? 1 : 0;
    int digits = 0;
    value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)) && digits < 10; ++text, ++digits) {
        value = value * 10 + (*text - '0');
    }
    value = negative ? -value : value;
    return digits > 0 && digits < 10;
}

void check_temperature_text(const std::string& bytes)
{
    // As the attribute reader leaves it: at most size - 1 bytes, NUL-ended.
    char text[temperature_text_size] = {};
    std::memcpy(text, bytes.data(), std::min(bytes.size(), sizeof text - 1));
    const float degrees = parse_temperature_text(text);
    if (!std::isfinite(degrees) || std::fabs(degrees) > static_cast<float>(INT_MAX) / 1000.0f + 1.0f) {
        fail("a reading beyond the range of the driver's millidegrees");
    }
    long millidegrees = 0;
    if (plain_millidegrees(text, millidegrees) && degrees != static_cast<float>(millidegrees) / 1000.0f) {
        fail("a plain number of millidegrees is not read as that number / 1000");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        check_os_description(in.ConsumeRemainingBytesAsString());
        break;
    case 1:
        check_route_lines(in.ConsumeRemainingBytesAsString());
        break;
    case 2:
        check_eeprom_window(in);
        break;
    default:
        check_temperature_text(in.ConsumeRemainingBytesAsString());
        break;
    }
    return 0;
}
