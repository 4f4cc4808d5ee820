// Private interface of module config, shared by its source files.
#pragma once

#include <cstdint>

#include "config.h"

// Line-oriented key/value editor (see config_store.cpp).
uint8_t get_Config_Data(const char* file_name, const char* name, char* buffer, char token, const char* ignore_str,
                        bool ignore_comment_flag);
uint8_t set_Config_Data(const char* file_name, const char* name, const char* data, char token,
                        const char* ignore_str);
uint8_t set_Config_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                const char* ignore_str);
bool set_Config_File_Generate();

// Runs cmd through a shell pipe; when result is given, leaves the last line
// of the output in it (at most size - 1 bytes, NUL-terminated). 0 when the
// command could be started, -1 when not (reported with perror).
int8_t set_Command(const char* cmd, char* result, int size);

// Addressing mode the daemon assumes; DHCP at every start.
extern NETWORK_MODE network_mode;
