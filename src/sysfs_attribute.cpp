// Sysfs attribute reader (see sysfs_attribute.h).
#include "sysfs_attribute.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "fd_holder.h"

ssize_t read_sysfs_attribute_at(int fd, char* text, size_t size)
{
    const ssize_t got = pread(fd, text, size - 1, 0);
    const size_t length = got < 0 ? 0 : static_cast<size_t>(got);
    text[length] = '\0';
    text[strcspn(text, "\n")] = '\0';
    return got;
}

Sysfs_Status read_sysfs_attribute(const char* path, char* text, size_t size, int* error)
{
    text[0] = '\0';
    Fd_Holder fd(open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        *error = errno;
        return Sysfs_Status::OPEN_FAILED;
    }
    if (read_sysfs_attribute_at(fd.get(), text, size) < 0) {
        *error = errno;
        return Sysfs_Status::READ_FAILED;
    }
    return Sysfs_Status::DONE;
}

Sysfs_Status write_sysfs_attribute(const char* path, const void* bytes, size_t count, int* error)
{
    Fd_Holder fd(open(path, O_WRONLY | O_SYNC | O_CLOEXEC));
    if (fd.get() < 0) {
        *error = errno;
        return Sysfs_Status::OPEN_FAILED;
    }
    if (write(fd.get(), bytes, count) < 0) {
        *error = errno;
        return Sysfs_Status::WRITE_FAILED;
    }
    return Sysfs_Status::DONE;
}
