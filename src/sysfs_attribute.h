// The daemon's one reader and writer of sysfs attribute files (GPIO values
// and settings, hwmon readings, the I2C adapter's new_device): one pread from
// offset 0, the text ended at its first line feed; one write of the bytes
// given.
//
// A sysfs attribute is produced whole by each read from offset 0, and such a
// read also re-arms poll() on it (the GPIO value files), so a descriptor kept
// open is read again from offset 0 without a seek.
//
// Paths are platform paths: built with NK_PLATFORM_PATH or from a getter that
// adds the platform prefix (get_GPIO_Path).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

enum class Sysfs_Status : uint8_t { DONE, OPEN_FAILED, READ_FAILED, WRITE_FAILED };

// Reads at most size - 1 bytes of the open attribute file from offset 0 in
// one pread into text and ends the text at its first line feed or after the
// bytes read (size must be at least 1). Returns what pread returned; on -1
// (errno set) the text is empty.
ssize_t read_sysfs_attribute_at(int fd, char* text, size_t size);

// Opens the attribute file at path read-only, reads it as above and closes
// it. DONE: text holds the attribute (empty for an empty file); OPEN_FAILED,
// READ_FAILED: text is empty and *error holds the errno of the failed call.
Sysfs_Status read_sysfs_attribute(const char* path, char* text, size_t size, int* error);

// Opens the attribute file at path write-only with synchronous writes, writes
// the count bytes in one write and closes it. DONE (a short write counts as
// done); OPEN_FAILED, WRITE_FAILED: *error holds the errno of the failed call.
Sysfs_Status write_sysfs_attribute(const char* path, const void* bytes, size_t count, int* error);
