// The daemon's one reader of sysfs attribute files (GPIO values, hwmon
// readings): one pread from offset 0, the text ended at its first line feed.
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

enum class Sysfs_Status : uint8_t { DONE, OPEN_FAILED, READ_FAILED };

// Reads at most size - 1 bytes of the open attribute file from offset 0 in
// one pread into text and ends the text at its first line feed or after the
// bytes read (size must be at least 1). Returns what pread returned; on -1
// (errno set) the text is empty.
ssize_t read_sysfs_attribute_at(int fd, char* text, size_t size);

// Opens the attribute file at path read-only, reads it as above and closes
// it. DONE: text holds the attribute (empty for an empty file); OPEN_FAILED,
// READ_FAILED: text is empty and *error holds the errno of the failed call.
Sysfs_Status read_sysfs_attribute(const char* path, char* text, size_t size, int* error);
