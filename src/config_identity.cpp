// Module config: the node's identity (serial number, product name, version,
// OS description) and the report files for mail notices.
//
// Every text getter writes into the caller's buffer, cuts a text that does
// not fit, always terminates it and returns its length. All callers run on
// the main thread.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BMC_data_protocol.h"
#include "config.h"
#include "config_internal.h"
#include "platform_paths.h"

namespace {

// ---------------------------------------------------------------------------
// Serial number in the EEPROM window of physical memory
// ---------------------------------------------------------------------------

const char* const eeprom_dir = NK_PLATFORM_PATH("/dev/mem");
const uint64_t eeprom_mapping_address = 0x10000000;
const uint32_t eeprom_narel_serial_number_address = 80;
const uint32_t eeprom_narel_serial_number_code = 85;  // 'U'
constexpr size_t eeprom_window_length = 512;
static_assert(eeprom_narel_serial_number_address < eeprom_window_length, "record lies inside the window");

const char* const not_available = "N/A";

// Every text getter's caller passes this many bytes (get_Config_OS_Info has
// no length parameter).
constexpr unsigned int caller_text_length = 100;

// Copies text and its NUL into buffer, cut to buffer_length - 1 characters
// and always terminated; nothing behind the NUL is written (a caller may
// pass a buffer of just the text's size). Returns the length placed.
unsigned int set_Text_Copy(char* buffer, unsigned int buffer_length, const char* text)
{
    if (buffer == nullptr || buffer_length == 0) {
        return 0;
    }
    const size_t length = strnlen(text, buffer_length - 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<unsigned int>(length);
}

// Read-only private mapping of the EEPROM window; unmapped and closed when
// the holder goes.
class Eeprom_Window {
public:
    Eeprom_Window()
    {
        fd_ = open(eeprom_dir, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            printf("[ERROR] %s: fopen() Error\n", "get_EEPROM_Config");
            return;
        }
        void* map = mmap(nullptr, eeprom_window_length, PROT_READ, MAP_PRIVATE, fd_,
                         static_cast<off_t>(eeprom_mapping_address));
        if (map == MAP_FAILED) {
            printf("[ERROR] %s: mmap() Error\n", "get_EEPROM_Config");
            return;
        }
        bytes_ = static_cast<const uint8_t*>(map);
    }
    ~Eeprom_Window()
    {
        if (bytes_ != nullptr) {
            munmap(const_cast<uint8_t*>(bytes_), eeprom_window_length);
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Eeprom_Window(const Eeprom_Window&) = delete;
    Eeprom_Window& operator=(const Eeprom_Window&) = delete;

    // The window's 512 bytes, or nullptr when it could not be mapped.
    const uint8_t* bytes() const { return bytes_; }

private:
    int fd_ = -1;
    const uint8_t* bytes_ = nullptr;
};

// Text of the record at window offset `address` whose first byte is
// `config_code`, or "N/A". The text ends at its NUL or at the end of the
// window, and is cut to buffer_length - 1 characters.
unsigned int get_EEPROM_Config(uint32_t address, uint8_t config_code, uint8_t* buffer, unsigned int buffer_length)
{
    // Zeroed beyond the copied part, so a text running to the window's end
    // is terminated there.
    uint8_t record[eeprom_window_length + 1] = {};
    bool found = false;
    if (address < eeprom_window_length && access(eeprom_dir, R_OK) == 0) {
        Eeprom_Window window;
        if (window.bytes() != nullptr && window.bytes()[address] == config_code) {
            memcpy(record, window.bytes() + address, eeprom_window_length - address);
            found = true;
        }
    }
    const char* text = found ? reinterpret_cast<const char*>(record + 1) : not_available;
    return set_Text_Copy(reinterpret_cast<char*>(buffer), buffer_length, text);
}

// ---------------------------------------------------------------------------
// Fixed texts and OS description
// ---------------------------------------------------------------------------

const char* const product_name = "Tovana Ruvo";
const char* const version_text = "V1.0.5";
const char* const os_info_command = "lsb_release -d";
constexpr int command_result_length = 128;

// The description in the last output line of "lsb_release -d" (a label, a
// TAB and the description): the text behind the first TAB, without line
// end. The line is cut in place. nullptr when the line holds no TAB.
const char* get_OS_Description(char* line)
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

// ---------------------------------------------------------------------------
// Report files
// ---------------------------------------------------------------------------

const char* const report_file_pattern = "nodekeeper-report-XXXXXX";
// The consumer of a report may run as another user; the contents are not
// secret.
constexpr mode_t report_file_mode = 0644;

// Name of the last report file; valid until the next create_Tempfile().
std::string report_file_name;

// Report texts indexed by BMC::_SUBADDRESS_POWER_STATUS and
// BMC::_SUBADDRESS_PSU_STATUS values; other values give no line.
const char* const node_status_text[] = {"Unmounted", "Mounted", "Active", "Active"};
static_assert(BMC::SUBADDRESS_POWER_STATUS_NAREL_NOT_INSERTED == 0 &&
                  BMC::SUBADDRESS_POWER_STATUS_NAREL_INSERTED_POWER_OFF == 1 &&
                  BMC::SUBADDRESS_POWER_STATUS_NAREL_INSERTED_POWER_ON == 2 &&
                  BMC::SUBADDRESS_POWER_STATUS_NAREL_INSERTED_POWER_ON_READY == 3,
              "node_status_text follows the power states");
const char* const psu_status_text[] = {"NOT INSERTED", "ERROR", "POWER OFF", "POWER ON"};
static_assert(BMC::SUBADDRESS_PSU_STATUS_NOT_INSERTED == 0 && BMC::SUBADDRESS_PSU_STATUS_ERROR == 1 &&
                  BMC::SUBADDRESS_PSU_STATUS_POWER_OFF == 2 && BMC::SUBADDRESS_PSU_STATUS_POWER_ON == 3,
              "psu_status_text follows the supply states");

// One "<key><n>=<text>\n" line per unit n (1-based) whose status has a
// text in the table.
template <size_t T, size_t U>
void set_Report_Status_Lines(FILE* out, const char* key, const char* const (&table)[T], const uint8_t (&status)[U])
{
    for (size_t n = 1; n <= U; ++n) {
        if (status[n - 1] < T) {
            fprintf(out, "%s%zu=%s\n", key, n, table[status[n - 1]]);
        }
    }
}

// Writes "KEY=text\n"; a text field is read only within its width, even
// when the producer left it unterminated.
template <size_t N>
void set_Report_Text(FILE* out, const char* key, const char (&field)[N])
{
    fprintf(out, "%s=%.*s\n", key, static_cast<int>(N), field);
}

void set_Info_Report(FILE* out, const Info_mail_data& data)
{
    set_Report_Text(out, "VERSION", data.version);
    set_Report_Text(out, "SERIAL", data.serial);
    set_Report_Text(out, "IPADDR", data.ipaddr);
    set_Report_Text(out, "INFO", data.information);
    set_Report_Text(out, "LOC", data.location);
    set_Report_Text(out, "EMAIL", data.email);
    set_Report_Text(out, "TEMP", data.temperature);
    set_Report_Status_Lines(out, "NODE", node_status_text, data.narel_status);
    fprintf(out, "UNMOUNTED=%d\nMOUNTED=%d\nACTIVE=%d\n", data.umount, data.mount, data.active);
}

void set_PSU_Report(FILE* out, const PSU_mail_data& data)
{
    set_Report_Text(out, "INFO", data.information);
    set_Report_Text(out, "LOC", data.location);
    set_Report_Text(out, "IPADDR", data.ipaddr);
    set_Report_Status_Lines(out, "PSU", psu_status_text, data.psu_status);
}

// Creates a new, empty report file under a unique name in the system's
// temporary directory ($TMPDIR, else P_tmpdir) and opens it for writing.
// The name goes to report_file_name. nullptr on failure.
FILE* set_Report_File_Open()
{
    const char* dir = getenv("TMPDIR");
    if (dir == nullptr || dir[0] == '\0') {
        dir = P_tmpdir;
    }
    std::string name = std::string(dir) + "/" + report_file_pattern;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    FILE* out = fdopen(fd, "w");
    if (out == nullptr || fchmod(fd, report_file_mode) != 0) {
        if (out != nullptr) {
            fclose(out);
        } else {
            close(fd);
        }
        remove(name.c_str());
        return nullptr;
    }
    report_file_name = name;
    return out;
}

}  // namespace

int get_Config_Serial_Number(char* buffer, unsigned int buffer_length)
{
    return static_cast<int>(get_EEPROM_Config(eeprom_narel_serial_number_address,
                                              static_cast<uint8_t>(eeprom_narel_serial_number_code),
                                              reinterpret_cast<uint8_t*>(buffer), buffer_length));
}

int get_Config_Product_Name(char* buffer)
{
    return static_cast<int>(set_Text_Copy(buffer, caller_text_length, product_name));
}

int get_Config_Version(char* buffer)
{
    return static_cast<int>(set_Text_Copy(buffer, caller_text_length, version_text));
}

int get_Config_OS_Info(char* buffer)
{
    char result[command_result_length] = {};
    set_Command(os_info_command, result, command_result_length);
    // Output without a TAB (the tool missing, or printing something else)
    // carries no description: the text is empty.
    const char* description = get_OS_Description(result);
    return static_cast<int>(set_Text_Copy(buffer, caller_text_length, description != nullptr ? description : ""));
}

char* create_Tempfile(const void* tmp_struct)
{
    report_file_name.clear();
    if (tmp_struct == nullptr) {
        return nullptr;
    }
    FILE* out = set_Report_File_Open();
    if (out == nullptr) {
        return nullptr;
    }

    const uint8_t kind = *static_cast<const uint8_t*>(tmp_struct);
    if (kind == static_cast<uint8_t>(MAIL_TYPE::INFO_MAIL)) {
        set_Info_Report(out, *static_cast<const Info_mail_data*>(tmp_struct));
    } else if (kind == static_cast<uint8_t>(MAIL_TYPE::PSU_MAIL)) {
        set_PSU_Report(out, *static_cast<const PSU_mail_data*>(tmp_struct));
    }
    // Any other kind leaves the file empty.

    const bool written = ferror(out) == 0;
    if (fclose(out) != 0 || !written) {
        // A short report would be mailed as if complete.
        remove(report_file_name.c_str());
        report_file_name.clear();
        return nullptr;
    }
    return report_file_name.data();
}

void remove_Tempfile(char* temp_file)
{
    if (temp_file != nullptr) {
        (void)remove(temp_file);
    }
}
