// Private interface of module config, shared by its source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config.h"

// Size of every value buffer the editor fills (the callers' 100 bytes,
// NUL included); longer values are cut to fit.
constexpr std::size_t config_value_size = 100;
// Size of every composed command line and result buffer of the module.
constexpr std::size_t config_command_size = 128;

// Line-oriented key/value editor (see config_store.cpp). get_Config_Data
// writes at most config_value_size bytes into buffer. set_Config_Data: 0 a
// line was replaced, 1 the target was not both readable and writable and no
// file could be generated for it, 2 the entry was appended or the target
// could not be opened, 3 the new content could not be written (the target
// keeps its old content).
uint8_t get_Config_Data(const char* file_name, const char* name, char* buffer, char token, const char* ignore_str,
                        bool ignore_comment_flag);
uint8_t set_Config_Data(const char* file_name, const char* name, const char* data, char token,
                        const char* ignore_str);
uint8_t set_Config_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                const char* ignore_str);
bool set_Config_File_Generate();

// Whole-file I/O of the module. config_read_file: false when the file cannot
// be opened or read. config_write_file: replaces the file's content through
// a temporary file in the same folder, flushed to disk and renamed over it;
// an existing file keeps its permission bits, a new one gets 0666 less the
// umask. On any failure the file keeps its old content and the result is
// false.
bool config_read_file(const char* path, std::string& content);
bool config_write_file(const char* path, const std::string& content);

// Runs cmd through a shell pipe; when result is given, leaves the last line
// of the output in it (at most size - 1 bytes, NUL-terminated). 0 when the
// command could be started, -1 when not (reported with perror).
int8_t set_Command(const char* cmd, char* result, int size);

// Addressing mode the daemon assumes; DHCP at every start.
extern NETWORK_MODE network_mode;
