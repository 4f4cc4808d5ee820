// Module sensor: finds the onboard ADM1032-type thermometer, binds its hwmon
// driver when needed and samples its remote channel through sysfs.
//
// The bus is touched in one place only, get_I2C_Slave_Check() (through the
// daemon's i2c-dev helper), and only during start-up, before the BMC link
// thread owns the adapter. Start-up binds the driver and finds its hwmon
// directory with shell commands; readings are one read of the driver's
// temp2_input through the sysfs attribute reader (no process per reading),
// and the kernel serialises the driver's transfers with the link's.
#include "sensor.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
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
constexpr int hwmon_name_size = sizeof hwmon_temp - 1;

float narel_temperature = 0.0f;
bool narel_temperature_update_flag = false;
bool onboard_temp_sensor_notfound = false;

// "%2x" prints the address as two lower-case hex digits: 0x4C on adapter 0
// gives the device directory 0-004c.
const char* const i2c_device_format = NK_PLATFORM_PATH("/dev/i2c-%d");
const char* const hwmon_dir_format = NK_PLATFORM_PATH("/sys/class/i2c-adapter/i2c-%d/%d-00%2x/hwmon");
const char* const hwmon_list_format = "ls " NK_PLATFORM_PATH("/sys/class/i2c-adapter/i2c-%d/%d-00%2x/hwmon");
const char* const new_device_format =
    "echo adm1032 0x%x > " NK_PLATFORM_PATH("/sys/class/i2c-adapter/i2c-%d/new_device");
const char* const temperature_path_format = NK_PLATFORM_PATH("/sys/class/hwmon/%s/temp2_input");

// Buffers holding a platform path or a command built from one.
constexpr size_t device_path_length = platform::platform_buffer(50);
constexpr size_t command_length = platform::platform_buffer(command_buffer_size);

// Time the kernel needs to create the hwmon directory of a new device.
constexpr std::chrono::seconds driver_bind_wait{5};

// Runs cmd through a shell pipe; when result is given, leaves the last line
// of the output in it (with its line end, at most size - 1 bytes). Silent:
// 0 when the command could be started, -1 when the pipe could not be opened.
// The command's exit status is not looked at.
int8_t set_Command(const char* cmd, char* result, int size)
{
    FILE* pipe = popen(cmd, "re");
    if (pipe == nullptr) {
        return -1;
    }
    // fgets with room for nothing would never reach the end of the output.
    if (result != nullptr && size > 1) {
        while (fgets(result, size, pipe) != nullptr) {
        }
    }
    pclose(pipe);
    return 0;
}

// One SMBus byte-data read of register 0 at slave_address: true when a
// device answered. The byte itself is not used.
bool get_I2C_Slave_Check(uint8_t i2c_adaptor_number, uint8_t slave_address)
{
    char path[device_path_length] = {};
    snprintf(path, sizeof path, i2c_device_format, i2c_adaptor_number);
    Fd_Holder fd(open(path, O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) {
        log_line("[ERROR] %s: i2c file open error!\n", __func__);
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
    char path[command_length] = {};
    get_hwmon_parent_path(address, path, sizeof path);
    return access(path, R_OK) == 0;
}

}  // namespace

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
    char command[command_length] = {};
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
        snprintf(command, sizeof command, new_device_format, address, temp_sensor_i2c_adapter_number);
        if (set_Command(command, nullptr, 0) != 0) {
            log_line("[ERROR] %s: bmc temp sensor load error", __func__);
        }
        std::this_thread::sleep_for(driver_bind_wait);
    }

    // The listing's last line is the hwmon directory's name.
    snprintf(command, sizeof command, hwmon_list_format, temp_sensor_i2c_adapter_number, temp_sensor_i2c_adapter_number,
             address);
    if (set_Command(command, hwmon_temp, hwmon_name_size) != 0) {
        log_line("[ERROR] %s: get bmc node hwmon path error", __func__);
    }
    log_line("[INFO] %s: Onboard Temperature sensor address: 0x%X\n", __func__, address);
    hwmon_temp[strcspn(hwmon_temp, "\n")] = '\0';
    log_line("[INFO] %s: Narel Sensor init\n", __func__);
}

void update_Temperature()
{
    if (onboard_temp_sensor_notfound) {
        return;
    }
    char path[command_length] = {};
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
