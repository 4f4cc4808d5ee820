// The daemon's one helper around the i2c-dev ioctls: every slave selection
// and every SMBus transaction (the sensor's detection probe, --check's quick
// probes) goes through here, as i2c-tools does it. Data transfers of the BMC
// link are plain read()/write() on the descriptor after select_i2c_slave().
//
// Results: 0 on success, else -errno of the failed ioctl.
#pragma once

#include <linux/i2c.h>

#include <cstdint>

// Selects the 7-bit slave `address` for the next transfers on the open bus
// `fd` (ioctl I2C_SLAVE).
int select_i2c_slave(int fd, uint8_t address);

// One SMBus transaction with the selected slave (ioctl I2C_SMBUS):
// read_write I2C_SMBUS_READ or I2C_SMBUS_WRITE, size I2C_SMBUS_QUICK,
// I2C_SMBUS_BYTE_DATA, ...; data may be nullptr for a quick transaction.
int run_smbus_transaction(int fd, uint8_t read_write, uint8_t command, uint32_t size, union i2c_smbus_data* data);
