// The i2c-dev ioctls (see i2c_smbus.h).
#include "i2c_smbus.h"

#include <errno.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>

int select_i2c_slave(int fd, uint8_t address)
{
    return ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(address)) < 0 ? -errno : 0;
}

int run_smbus_transaction(int fd, uint8_t read_write, uint8_t command, uint32_t size, union i2c_smbus_data* data)
{
    struct i2c_smbus_ioctl_data args = {};
    args.read_write = read_write;
    args.command = command;
    args.size = size;
    args.data = data;
    return ioctl(fd, I2C_SMBUS, &args) < 0 ? -errno : 0;
}
