// Module sensor: finds the onboard ADM1032-type thermometer, binds its hwmon
// driver when needed and samples its remote channel through sysfs.
//
// The bus is touched in one place only, get_I2C_Slave_Check() (through the
// daemon's i2c-dev helper), and only during start-up, before the BMC link
// thread owns the adapter. No program is started: the driver is bound by
// writing the adapter's new_device attribute, its hwmon folder is found by
// reading the device's hwmon folder, and readings are one read of the
// driver's temp2_input; the kernel serialises the driver's transfers with
// the link's.
#include "sensor.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "buffer_sizes.h"
#include "fd_holder.h"
#include "i2c_smbus.h"
#include "log_line.h"
#include "platform_paths.h"
#include "sensor_internal.h"
#include "sysfs_attribute.h"

namespace {

// Name of the sensor's hwmon directory (such as "hwmon1"), without line end.
char hwmon_temp[32];

float narel_temperature = 0.0f;
bool narel_temperature_update_flag = false;
bool onboard_temp_sensor_notfound = false;

// "%2x" prints the address as two lower-case hex digits: 0x4C on adapter 0
// gives the device directory 0-004c.
const char* const i2c_device_format = NK_PLATFORM_PATH("/dev/i2c-%d");
const char* const hwmon_dir_format = NK_PLATFORM_PATH("/sys/class/i2c-adapter/i2c-%d/%d-00%2x/hwmon");
const char* const new_device_path_format = NK_PLATFORM_PATH("/sys/class/i2c-adapter/i2c-%d/new_device");
const char* const new_device_text_format = "adm1032 0x%x\n";
const char* const temperature_path_format = NK_PLATFORM_PATH("/sys/class/hwmon/%s/temp2_input");

// Buffers holding a platform path.
constexpr size_t device_path_length = platform::platform_buffer(50);
constexpr size_t sysfs_path_length = platform::platform_buffer(command_buffer_size);

// One SMBus byte-data read of register 0 at slave_address: true when a
// device answered. The byte itself is not used.
bool get_I2C_Slave_Check(uint8_t i2c_adaptor_number, uint8_t slave_address)
{
    char path[device_path_length] = {};
    snprintf(path, sizeof path, i2c_device_format, i2c_adaptor_number);
    Fd_Holder fd(open(path, O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) {
        log_line("[ERROR] %s: i2c file open error!: %s: %s\n", __func__, path, strerror(errno));
        return false;
    }
    // A failed select shows in the transaction.
    (void)select_i2c_slave(fd.get(), slave_address);
    union i2c_smbus_data data;
    memset(&data, 0, sizeof data);
    return run_smbus_transaction(fd.get(), I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE_DATA, &data) == 0;
}

// True when the hwmon driver is bound to the device at `address`.
bool get_driver_bound(uint8_t address)
{
    char path[sysfs_path_length] = {};
    get_hwmon_parent_path(address, path, sizeof path);
    return access(path, R_OK) == 0;
}

// Binds the adm1032 driver to the device at `address` through the adapter's
// new_device attribute (one write of "adm1032 0x4c\n", as `echo` wrote it).
void bind_sensor_driver(uint8_t address)
{
    char path[sysfs_path_length] = {};
    snprintf(path, sizeof path, new_device_path_format, temp_sensor_i2c_adapter_number);
    char text[sizeof "adm1032 0xff\n"];
    const int length = snprintf(text, sizeof text, new_device_text_format, address);
    int error = 0;
    if (write_sysfs_attribute(path, text, static_cast<size_t>(length), &error) != Sysfs_Status::DONE) {
        log_line("[ERROR] %s: bmc temp sensor load error: %s: %s\n", "init_NAREL_Sensor", path, strerror(error));
    }
}

// Reads the name of the hwmon folder of the driver bound at `address` into
// hwmon_temp: the last name of the device's hwmon folder in sorted order, as
// `ls` listed it (names starting with a dot and names too long for
// hwmon_temp are passed over). A folder that cannot be read is logged and
// leaves hwmon_temp empty.
void read_hwmon_name(uint8_t address)
{
    char path[sysfs_path_length] = {};
    get_hwmon_parent_path(address, path, sizeof path);
    DIR* folder = opendir(path);
    if (folder == nullptr) {
        log_line("[ERROR] %s: get bmc node hwmon path error: %s: %s\n", "init_NAREL_Sensor", path, strerror(errno));
        return;
    }
    while (const struct dirent* entry = readdir(folder)) {
        const char* name = entry->d_name;
        const size_t length = strlen(name);
        if (name[0] != '.' && length < sizeof hwmon_temp && strcmp(name, hwmon_temp) > 0) {
            memcpy(hwmon_temp, name, length + 1);
        }
    }
    closedir(folder);
}

}  // namespace

bool wait_for_hwmon(uint8_t address, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (get_driver_bound(address)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(hwmon_look_period);
    }
}

int get_hwmon_parent_path(uint8_t address, char* buffer, size_t size)
{
    return snprintf(buffer, size, hwmon_dir_format, temp_sensor_i2c_adapter_number, temp_sensor_i2c_adapter_number,
                    address);
}

float parse_temperature_text(const char* text)
{
    const int millidegrees = static_cast<int>(strtol(text, nullptr, 10));
    return static_cast<float>(millidegrees) / 1000.0f;
}

I2C_TEMP get_Onboard_Temperature_Sensor_Detect()
{
    if (get_I2C_Slave_Check(temp_sensor_i2c_adapter_number, static_cast<uint8_t>(I2C_TEMP::ADDR1))) {
        return I2C_TEMP::ADDR1;
    }
    if (get_I2C_Slave_Check(temp_sensor_i2c_adapter_number, static_cast<uint8_t>(I2C_TEMP::ADDR2))) {
        return I2C_TEMP::ADDR2;
    }
    return I2C_TEMP::NOT_AVAILABLE;
}

void init_NAREL_Sensor()
{
    uint8_t address = 0;
    if (get_driver_bound(static_cast<uint8_t>(I2C_TEMP::ADDR1))) {
        address = static_cast<uint8_t>(I2C_TEMP::ADDR1);
    } else if (get_driver_bound(static_cast<uint8_t>(I2C_TEMP::ADDR2))) {
        address = static_cast<uint8_t>(I2C_TEMP::ADDR2);
    } else {
        const I2C_TEMP found = get_Onboard_Temperature_Sensor_Detect();
        if (found == I2C_TEMP::NOT_AVAILABLE) {
            log_line("[ERROR] %s: Onboard Temperature Sensor not found\n", __func__);
            onboard_temp_sensor_notfound = true;
            return;
        }
        address = static_cast<uint8_t>(found);
        bind_sensor_driver(address);
        (void)wait_for_hwmon(address, driver_bind_wait);
    }

    read_hwmon_name(address);
    log_line("[INFO] %s: Onboard Temperature sensor address: 0x%X\n", __func__, address);
    log_line("[INFO] %s: Narel Sensor init\n", __func__);
}

void update_Temperature()
{
    if (onboard_temp_sensor_notfound) {
        return;
    }
    char path[sysfs_path_length] = {};
    snprintf(path, sizeof path, temperature_path_format, hwmon_temp);
    // A missing, unreadable or empty file leaves the text empty: 0.0, as the
    // `cat` of the file printed nothing then.
    char text[temperature_text_size];
    int error = 0;
    (void)read_sysfs_attribute(path, text, sizeof text, &error);
    const float reading = parse_temperature_text(text);
    if (reading != narel_temperature) {
        narel_temperature = reading;
        narel_temperature_update_flag = true;
    }
}

bool get_Onboard_Temperature_Update_Flag()
{
    const bool raised = narel_temperature_update_flag;
    narel_temperature_update_flag = false;
    return raised;
}

float get_Onboard_Temperature() { return narel_temperature; }
