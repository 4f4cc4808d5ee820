// Module config: the node's settings, identity, network file and network
// commands.
//
//  - Settings file of the daemon (main_daemon.config in the working
//    directory), edited line by line as key/value text.
//  - Node identity (serial number, product name, version, OS description)
//    and report files for mail notices.
//  - The netplan file of the node and its two templates.
//  - Tracking of the default-route IPv4 address.
//  - The network commands the BMC sends.
//
// Result conventions: uint8_t results are status codes (0 success, other
// values per operation); text getters return the length of the text they
// placed in the caller's buffer and always NUL-terminate it; BMC commands
// return bool. Text buffers belong to the caller (caller_buffer_size bytes at
// every call site of the daemon).
//
// Threads: the network commands and the netplan file operations run on the
// BMC link thread; identity, address tracking and report files on the main
// thread. Nothing here takes a lock.
#pragma once

#include <cstdint>

#include "buffer_sizes.h"

// ---------------------------------------------------------------------------
// Settings file
// ---------------------------------------------------------------------------

extern const char* const config_file_name;         // "main_daemon.config"
extern const char* const information_config_name;  // "information"
extern const char* const location_config_name;     // "location"
extern const char* const email_config_name;        // "e-mail"

// Stores the free-text node information / location in main_daemon.config.
// Result of the line editor: 0 a line was replaced, 1 the file could not be
// created, 2 the entry was appended (or the file could not be opened), 3 the
// new content could not be written (the file keeps its old content).
uint8_t set_Config_Information(const char* str);
uint8_t set_Config_Location(const char* str);

// ---------------------------------------------------------------------------
// Node identity and report files
// ---------------------------------------------------------------------------

enum class MAIL_TYPE : uint8_t { INFO_MAIL = 0, PSU_MAIL = 1 };

struct Info_mail_data {
    MAIL_TYPE data_type;
    char version[8];
    char serial[32];
    char ipaddr[16];
    char information[32];
    char location[32];
    char email[32];
    char temperature[8];
    uint8_t narel_status[32];  // values of BMC::_SUBADDRESS_POWER_STATUS
    uint8_t mount;
    uint8_t umount;
    uint8_t active;
};

struct PSU_mail_data {
    MAIL_TYPE data_type;
    char information[32];
    char location[32];
    char ipaddr[16];
    uint8_t psu_status[2];  // values of BMC::_SUBADDRESS_PSU_STATUS
};

static_assert(sizeof(Info_mail_data) == 196, "Info_mail_data fields follow one another without gaps");
static_assert(sizeof(PSU_mail_data) == 83, "PSU_mail_data fields follow one another without gaps");

// Serial number from the EEPROM window, or "N/A". Returns the text length.
int get_Config_Serial_Number(char* buffer, unsigned int buffer_length);
// "Tovana Ruvo" (returns 11) and "V" with the project's version, such as
// "V1.0.5" (returns 6), NUL included.
int get_Config_Product_Name(char* buffer);
int get_Config_Version(char* buffer);
// Operating system description from "lsb_release -d", else PRETTY_NAME of
// /etc/os-release (said once in an "[INFO]" line); buffer of
// caller_buffer_size bytes.
int get_Config_OS_Info(char* buffer);

// Writes the report file of an Info_mail_data or PSU_mail_data record and
// returns its name (valid until the next call), or nullptr when the file
// could not be created.
char* create_Tempfile(const void* tmp_struct);
// Deletes a report file; a failure is ignored.
void remove_Tempfile(char* temp_file);

// ---------------------------------------------------------------------------
// Network file
// ---------------------------------------------------------------------------

enum class NETWORK_CONFIG_TYPE : uint8_t {
    MODE = 0,
    IP_ADDRESS = 1,
    GATEWAY = 2,
    SUBNETMASK = 3,
    DNS1 = 4,
    DNS2 = 5,
};

enum class NETWORK_MANAGER_TYPE : uint8_t { UNKNOWN = 0, NETPLAN = 1, IFUPDOWN = 2 };

enum class NETWORK_MODE : uint8_t { UNKNOWN = 0, DHCP = 1, STATIC = 2 };

extern const char* const netplan_config_path;  // the netplan file, behind the platform prefix
extern const char* const netplan_static_default_config;
extern const char* const netplan_dhcp_default_config;

// Writes the template matching the current network mode to the netplan file.
void init_netplan_config();
// Reads one setting (MODE: one byte, 0 DHCP, 1 static; others: text in a
// buffer of caller_buffer_size bytes). Always 0.
uint8_t get_Network_Config_Data(NETWORK_CONFIG_TYPE type, char* str);
// Writes one setting (MODE: str[0] 0 DHCP, non-zero static). Always 0.
uint8_t set_Network_Config_Data(NETWORK_CONFIG_TYPE type, const char* str);
// Makes sure the netplan file exists and runs "netplan apply" when netplan
// generate accepts the file and a static interface has an address (else
// one "[ERROR]" line). Always true.
bool set_Network_Config_Apply();
// The addressing mode the daemon assumes (NETWORK_MODE value).
uint8_t get_Network_Mode();

// ---------------------------------------------------------------------------
// Default IPv4 address
// ---------------------------------------------------------------------------

// Looks up the default-route interface's address; true when it changed.
bool update_Config_Default_IP_Address();
// Returns the change flag and clears it.
bool get_Config_Default_IP_Address_Update_Flag();
// Copies the address text into buffer; returns its length.
int get_Config_Default_IP_Address(char* buffer, unsigned int buffer_length);

// ---------------------------------------------------------------------------
// Network commands of the BMC (run on the BMC link thread)
// ---------------------------------------------------------------------------

// mode 0: static addressing, any other value: DHCP. True for 0 and 1. A
// change removes the netplan file (a regular file, or a link to one; else
// one "[ERROR]" line and the file stays).
bool set_Network_Mode(uint8_t mode);
// Addresses (these and the name servers) must be dotted-quad IPv4 addresses
// (four decimal parts 0 to 255, no leading zeros), netmasks three or four
// decimal parts 0 to 255 whose bits are ones, then zeros: anything else is
// refused with one "[ERROR]" line, false, and no change.
// Refused (false) while the mode is DHCP.
bool set_Config_IP_Address(char* buffer);
bool set_Config_Gateway(char* buffer);
bool set_Config_Subnetmask(char* buffer);
// Carried out in either mode; true.
bool set_Config_Dns1(char* buffer);
bool set_Config_Dns2(char* buffer);
// set_Network_Config_Apply, its lines logged under run_Apply; true.
bool run_Apply();
// Sets the host name (hostnamectl) when it is valid and differs from the last
// one set; a name is stored as set only when hostnamectl succeeded. False.
bool set_Config_Hostname(char* buffer);
