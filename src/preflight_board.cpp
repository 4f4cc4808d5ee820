// --check, the board: the I2C bus, the BMC on it, the attention line, the
// temperature sensor and the EEPROM window. Nothing is written to the bus
// or under sysfs: the BMC and a sensor without driver are found with SMBus
// quick probes, as i2cdetect does, which consume nothing the BMC has
// pending; a sensor with a driver is read through its hwmon file (a probe of
// a bound address would give EBUSY).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "I2C_BMC_packet_thread.h"
#include "board_io.h"
#include "config_internal.h"
#include "i2c_smbus.h"
#include "platform_paths.h"
#include "preflight_internal.h"
#include "sensor.h"
#include "sensor_internal.h"
#include "sysfs_attribute.h"

namespace {

const Node_Path i2c_bus = {BMC_I2C_BUS_PATH, NK_PLATFORM_PATH(BMC_I2C_BUS_PATH)};
const Node_Path eeprom = {eeprom_path + platform::sysroot_length, eeprom_path};

constexpr I2C_TEMP sensor_addresses[] = {I2C_TEMP::ADDR1, I2C_TEMP::ADDR2};

// An SMBus quick write at address: 0 when a device acknowledged, else -errno.
int probe_address(int bus, uint8_t address)
{
    const int selected = select_i2c_slave(bus, address);
    return selected != 0 ? selected : run_smbus_transaction(bus, I2C_SMBUS_WRITE, 0, I2C_SMBUS_QUICK, nullptr);
}

std::string hex_address(unsigned address)
{
    char text[8];
    snprintf(text, sizeof text, "0x%02x", address);
    return text;
}

// One attribute of the attention line; false with *error set when it cannot
// be read.
bool read_gpio_attribute(GPIO_FILE_TYEP type, std::string& text, int* error)
{
    char path[gpio_path_buffer_size];
    get_GPIO_Path(bmc_attention_gpio, path, type);
    char buffer[16];
    const bool read = read_sysfs_attribute(path, buffer, sizeof buffer, error) == Sysfs_Status::DONE;
    text = buffer;
    return read;
}

// The temperature through a bound driver's hwmon file; false when no driver
// is bound at address.
bool check_bound_sensor(Check_Run& run, const char* what, uint8_t address)
{
    char parent[platform::platform_buffer(64)];
    get_hwmon_parent_path(address, parent, sizeof parent);
    DIR* dir = opendir(parent);
    if (dir == nullptr) {
        return false;
    }
    std::string name;
    while (const struct dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, "hwmon", 5) == 0) {
            name = entry->d_name;
            break;
        }
    }
    closedir(dir);
    if (name.empty()) {
        return false;
    }
    const std::string path = std::string(parent) + "/" + name + "/temp2_input";
    char text[temperature_text_size];
    int error = 0;
    if (read_sysfs_attribute(path.c_str(), text, sizeof text, &error) != Sysfs_Status::DONE) {
        run.fail(what, get_error_text(error), "the driver is bound but its temp2_input cannot be read");
        return true;
    }
    char detail[128];
    snprintf(detail, sizeof detail, "%s, driver bound (%s), %.3f degrees Celsius", hex_address(address).c_str(),
             name.c_str(), static_cast<double>(parse_temperature_text(text)));
    run.pass(what, detail);
    return true;
}

}  // namespace

void check_bus(Check_Run& run)
{
    run.bus.reset(open(i2c_bus.opened, O_RDWR | O_CLOEXEC));
    if (run.bus.get() < 0) {
        const int error = errno;
        run.fail(i2c_bus.shown, get_error_text(error),
                 error == EACCES ? "run as root" : "is the i2c-dev module loaded (modprobe i2c-dev)?");
        return;
    }
    run.pass(i2c_bus.shown, "opens");
}

void check_bmc(Check_Run& run)
{
    const char* what = "BMC at 0x08";
    if (run.bus.get() < 0) {
        run.fail(what, "not probed", "the bus did not open (see above)");
        return;
    }
    const int result = probe_address(run.bus.get(), bmc_i2c_slave_address);
    if (result != 0) {
        run.fail(what, get_error_text(-result),
                 result == -EBUSY ? "a kernel driver claims 0x08"
                                  : "is the BMC powered and the cable seated? i2cdetect -y 0 should show 08");
        return;
    }
    run.pass(what, "acknowledges");
}

void check_attention_line(Check_Run& run)
{
    const char* what = "GPIO 480 (attention line)";
    char gpio_dir[gpio_path_buffer_size];
    get_GPIO_Path(bmc_attention_gpio, gpio_dir, GPIO_FILE_TYEP::NONE);
    struct stat status;
    if (stat(gpio_dir, &status) != 0) {
        if (errno == ENOENT) {
            run.pass(what, "not exported (the daemon exports it at start)");
        } else {
            run.fail(what, get_error_text(errno), "is sysfs mounted?");
        }
        return;
    }
    std::string value;
    std::string edge;
    int error = 0;
    if (!read_gpio_attribute(GPIO_FILE_TYEP::VALUE, value, &error) ||
        !read_gpio_attribute(GPIO_FILE_TYEP::EDGE, edge, &error)) {
        run.fail(what, get_error_text(error), "the line is exported but its attributes cannot be read");
        return;
    }
    run.pass(what, "value " + value + ", edge " + edge + (value == "0" ? " (the BMC holds a frame)" : ""));
}

void check_sensor(Check_Run& run)
{
    const char* what = "temperature sensor";
    for (const I2C_TEMP address : sensor_addresses) {
        if (check_bound_sensor(run, what, static_cast<uint8_t>(address))) {
            return;
        }
    }
    // No driver: a probe cannot disturb a driver's transfers.
    if (run.bus.get() < 0) {
        run.fail(what, "not probed", "the bus did not open (see above)");
        return;
    }
    int result = 0;
    for (const I2C_TEMP address : sensor_addresses) {
        result = probe_address(run.bus.get(), static_cast<uint8_t>(address));
        if (result == 0) {
            run.pass(what, "answers at " + hex_address(static_cast<uint8_t>(address)) +
                               ", no driver bound (the daemon binds it at start)");
            return;
        }
    }
    run.fail(what, "no answer at 0x4c or 0x4d: " + get_error_text(-result),
             "without the sensor the daemon reports no temperature; i2cdetect -y 0 should show 4c or 4d");
}

void check_serial_number(Check_Run& run)
{
    const char* what = "serial number (EEPROM window)";
    const Eeprom_Window window;
    char text[eeprom_window_length];
    if (window.bytes() == nullptr && window.open_failed()) {
        run.fail(what, std::string(eeprom.shown) + ": " + get_error_text(window.error()), "run as root");
    } else if (window.bytes() == nullptr) {
        snprintf(text, sizeof text, "mapping 0x%llx: %s", static_cast<unsigned long long>(eeprom_window_address),
                 get_error_text(window.error()).c_str());
        run.fail(what, text, "does the kernel allow /dev/mem at that address (CONFIG_STRICT_DEVMEM)?");
    } else if (window.bytes()[serial_record_address] != serial_record_code) {
        snprintf(text, sizeof text, "no serial record at 0x%llx (code %u, expected %u)",
                 static_cast<unsigned long long>(eeprom_window_address + serial_record_address),
                 window.bytes()[serial_record_address], serial_record_code);
        run.fail(what, text, "is the EEPROM programmed? the daemon reports \"N/A\"");
    } else {
        copy_eeprom_record(window.bytes(), serial_record_address, serial_record_code, text, sizeof text);
        run.pass(what, text);
    }
}
