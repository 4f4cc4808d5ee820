// Module sensor: the node card's onboard temperature sensor, an ADM1032-type
// thermometer on I2C adapter 0 at 0x4C or 0x4D.
//
// init_NAREL_Sensor() runs once at start-up, before the BMC link owns the
// bus: it finds the sensor, binds the kernel's hwmon driver when needed
// (then waits for its hwmon directory, up to 5 seconds) and learns the
// sensor's hwmon directory. After that every reading is one read of the
// driver's temp2_input file; the bus is not touched again. The module starts
// no process.
//
// Calling order per main-loop pass: update_Temperature(), then
// get_Onboard_Temperature_Update_Flag() and, when it returned true,
// get_Onboard_Temperature().
//
// All calls run on the main thread; the module's state has no lock.
#pragma once

#include <cstdint>

// 7-bit addresses the sensor can have.
enum class I2C_TEMP : uint8_t {
    NOT_AVAILABLE = 0,
    ADDR1 = 0x4C,
    ADDR2 = 0x4D,
};

// Finds the sensor and prepares sampling. When no sensor answers it logs
// the error and disables sampling for the life of the process.
void init_NAREL_Sensor();

// Takes one reading (degrees Celsius; 0.0 when nothing could be read) and
// raises the change flag when it differs from the previous reading. Does
// nothing when no sensor was found.
void update_Temperature();

// Returns the change flag and clears it.
bool get_Onboard_Temperature_Update_Flag();

// The last reading in degrees Celsius; 0.0 before the first one.
float get_Onboard_Temperature();

// Probes 0x4C, then 0x4D, with a one-byte SMBus read on adapter 0; returns
// the first address that answers, else NOT_AVAILABLE.
I2C_TEMP get_Onboard_Temperature_Sensor_Detect();
