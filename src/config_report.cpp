// Module config: the report files for mail notices, one "KEY=text" line
// per field, written under a fresh name in the temporary directory. All
// callers run on the main thread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BMC_data_protocol.h"
#include "config.h"

namespace {

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
void set_report_status_lines(FILE* out, const char* key, const char* const (&table)[T], const uint8_t (&status)[U])
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
void set_report_text(FILE* out, const char* key, const char (&field)[N])
{
    fprintf(out, "%s=%.*s\n", key, static_cast<int>(N), field);
}

void set_info_report(FILE* out, const Info_mail_data& data)
{
    set_report_text(out, "VERSION", data.version);
    set_report_text(out, "SERIAL", data.serial);
    set_report_text(out, "IPADDR", data.ipaddr);
    set_report_text(out, "INFO", data.information);
    set_report_text(out, "LOC", data.location);
    set_report_text(out, "EMAIL", data.email);
    set_report_text(out, "TEMP", data.temperature);
    set_report_status_lines(out, "NODE", node_status_text, data.narel_status);
    fprintf(out, "UNMOUNTED=%d\nMOUNTED=%d\nACTIVE=%d\n", data.umount, data.mount, data.active);
}

void set_psu_report(FILE* out, const PSU_mail_data& data)
{
    set_report_text(out, "INFO", data.information);
    set_report_text(out, "LOC", data.location);
    set_report_text(out, "IPADDR", data.ipaddr);
    set_report_status_lines(out, "PSU", psu_status_text, data.psu_status);
}

// Creates a new, empty report file under a unique name in the system's
// temporary directory ($TMPDIR, else P_tmpdir) and opens it for writing.
// The name goes to report_file_name. nullptr on failure.
FILE* set_report_file_open()
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

char* create_Tempfile(const void* tmp_struct)
{
    report_file_name.clear();
    if (tmp_struct == nullptr) {
        return nullptr;
    }
    FILE* out = set_report_file_open();
    if (out == nullptr) {
        return nullptr;
    }

    const uint8_t kind = *static_cast<const uint8_t*>(tmp_struct);
    if (kind == static_cast<uint8_t>(MAIL_TYPE::INFO_MAIL)) {
        set_info_report(out, *static_cast<const Info_mail_data*>(tmp_struct));
    } else if (kind == static_cast<uint8_t>(MAIL_TYPE::PSU_MAIL)) {
        set_psu_report(out, *static_cast<const PSU_mail_data*>(tmp_struct));
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
