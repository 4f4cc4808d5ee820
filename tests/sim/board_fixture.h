// A board mounted at the build tree's platform prefix for each test, and
// plain-syscall helpers to use it as the daemon does.
#pragma once

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "virtual_board.h"

namespace sim_test {

inline std::string sysroot() { return NODEKEEPER_TEST_SYSROOT; }

// Reads a file with plain read(2) calls until end of file; "<errno N>" when it fails.
inline std::string read_text(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "<errno " + std::to_string(errno) + ">";
    }
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    const int error = errno;
    close(fd);
    return n < 0 ? "<errno " + std::to_string(error) + ">" : text;
}

// One write(2) of exactly these bytes; 0 or the errno.
inline int write_bytes(const std::string& path, const std::string& bytes, int flags = O_WRONLY)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    const int error = n < 0 ? errno : 0;
    close(fd);
    return error;
}

// dev/i2c-0 opened and its slave selected, as the daemon's link does.
class I2cFile {
public:
    explicit I2cFile(uint8_t address) : fd_(open((sysroot() + "/dev/i2c-0").c_str(), O_RDWR | O_CLOEXEC))
    {
        if (fd_ >= 0) {
            ioctl(fd_, I2C_SLAVE, address);
        }
    }
    ~I2cFile()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int fd() const { return fd_; }
    // read(2) of `length` bytes; the bytes, or empty with *error set.
    vboard::Bytes read_frame(size_t length, int* error = nullptr) const
    {
        vboard::Bytes buffer(length, 0xee);
        const ssize_t n = ::read(fd_, buffer.data(), length);
        if (error) {
            *error = n < 0 ? errno : 0;
        }
        buffer.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return buffer;
    }
    // write(2) of the bytes; 0 or the errno.
    int write_frame(const vboard::Bytes& bytes) const
    {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) ? 0 : errno;
    }
    // The sensor module's probe: one SMBus byte-data read of register 0; 0 or the errno.
    int probe() const
    {
        union i2c_smbus_data data = {};
        struct i2c_smbus_ioctl_data args = {I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE_DATA, &data};
        return ioctl(fd_, I2C_SMBUS, &args) == -1 ? errno : 0;
    }

private:
    int fd_;
};

class BoardTest : public ::testing::Test {
protected:
    void mount(vboard::BoardOptions options = {})
    {
        options.prefix = sysroot();
        board_ = std::make_unique<vboard::VirtualBoard>(options);
    }
    void SetUp() override { mount(); }
    std::string dev(const std::string& name) const { return sysroot() + "/dev/" + name; }
    std::string sys(const std::string& name) const { return sysroot() + "/sys/" + name; }

    std::unique_ptr<vboard::VirtualBoard> board_;
};

}  // namespace sim_test
