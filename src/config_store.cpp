// The configuration store: key/value edits of text files (the daemon's
// settings file main_daemon.config and the netplan file), the whole-file I/O
// under them, and the module's command runner.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_edit.h"
#include "config_internal.h"
#include "fd_holder.h"

const char* const config_file_name = "main_daemon.config";
const char* const information_config_name = "information";
const char* const location_config_name = "location";
const char* const email_config_name = "e-mail";

namespace {

constexpr char config_file_header[] = "#Main Daemon Config File";
static_assert(sizeof(config_file_header) - 1 == 24, "the header is 24 bytes, without a line end");

// Attempts at finding an unused temporary name next to a target.
constexpr int temp_name_attempts = 16;

bool write_all(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a fresh file beside `path`; its name goes to `temp_path`.
int create_temp_beside(const char* path, std::string& temp_path)
{
    static std::atomic<unsigned> counter{0};
    for (int i = 0; i < temp_name_attempts; ++i) {
        temp_path = std::string(path) + ".nk-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Flushes the folder holding `path`, so that a rename in it is on disk.
void sync_folder_of(const char* path)
{
    std::string dir(path);
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
    Fd_Holder fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        (void)fsync(fd.get());
    }
}

bool readable_and_writable(const char* file_name) { return access(file_name, R_OK | W_OK) == 0; }

// The generation step of an edit whose target is not both readable and
// writable: only the settings file itself is generated, and only when it is
// missing, so that no other target ever truncates the stored settings.
bool generate_for(const char* file_name)
{
    const bool missing = errno == ENOENT;
    return missing && std::strcmp(file_name, config_file_name) == 0 && set_Config_File_Generate();
}

}  // namespace

bool config_read_file(const char* path, std::string& content)
{
    Fd_Holder fd(open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    content.clear();
    char block[4096];
    for (;;) {
        const ssize_t n = read(fd.get(), block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        content.append(block, static_cast<std::size_t>(n));
    }
}

bool config_write_file(const char* path, const std::string& content)
{
    // A symbolic link stays a link: the file it names is the one replaced.
    std::string target = path;
    struct stat old_st;
    if (lstat(path, &old_st) == 0 && S_ISLNK(old_st.st_mode)) {
        char* real = realpath(path, nullptr);
        if (real == nullptr) {
            return false;
        }
        target = real;
        free(real);
    }
    path = target.c_str();
    const bool exists = stat(path, &old_st) == 0;
    std::string temp_path;
    Fd_Holder fd(create_temp_beside(path, temp_path));
    if (fd.get() < 0) {
        return false;
    }
    if (exists) {
        (void)!fchown(fd.get(), old_st.st_uid, old_st.st_gid);  // kept where the process may
    }
    const bool ok = (!exists || fchmod(fd.get(), old_st.st_mode & 07777) == 0) &&
                    write_all(fd.get(), content.data(), content.size()) && fsync(fd.get()) == 0 &&
                    fd.close_now() && rename(temp_path.c_str(), path) == 0;
    if (!ok) {
        unlink(temp_path.c_str());
        return false;
    }
    sync_folder_of(path);
    return true;
}

uint8_t get_Config_Data(const char* file_name, const char* name, char* buffer, char token, const char* ignore_str,
                        bool ignore_comment_flag)
{
    std::string content;
    if (!readable_and_writable(file_name) || !config_read_file(file_name, content)) {
        return 1;
    }
    const auto value = config_edit::find_value(content, name, token, ignore_str, ignore_comment_flag);
    if (!value) {
        return 2;
    }
    const std::size_t n = std::min(value->size(), config_value_size - 1);
    std::memcpy(buffer, value->data(), n);
    buffer[n] = '\0';
    return 0;
}

namespace {

// The frame of every edit: make sure the target can be edited (generating
// the settings file when it is missing), read it, transform its text, and
// write the result back when it changed. `edit` returns the edit's own
// result and fills the new text.
template <typename Edit>
uint8_t edit_file(const char* file_name, Edit edit)
{
    if (!readable_and_writable(file_name) && !generate_for(file_name)) {
        return 1;
    }
    std::string content;
    if (!config_read_file(file_name, content)) {
        return 2;
    }
    std::string updated;
    const uint8_t result = edit(content, updated);
    if (updated != content && !config_write_file(file_name, updated)) {
        return 3;
    }
    return result;
}

}  // namespace

uint8_t set_Config_Data(const char* file_name, const char* name, const char* data, char token,
                        const char* ignore_str)
{
    return edit_file(file_name, [&](const std::string& content, std::string& updated) {
        return config_edit::replace_entries(content, name, data, token, ignore_str, updated);
    });
}

uint8_t set_Config_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                const char* ignore_str)
{
    return edit_file(file_name, [&](const std::string& content, std::string& updated) {
        updated = config_edit::comment_entries(content, name, set_comment, token, ignore_str);
        return uint8_t{0};
    });
}

bool set_Config_File_Generate()
{
    return config_write_file(config_file_name, std::string(config_file_header, sizeof(config_file_header) - 1));
}

uint8_t set_Config_Information(const char* str)
{
    return set_Config_Data(config_file_name, information_config_name, str, ' ', nullptr);
}

uint8_t set_Config_Location(const char* str)
{
    return set_Config_Data(config_file_name, location_config_name, str, ' ', nullptr);
}

int8_t set_Command(const char* cmd, char* result, int size)
{
    FILE* pipe = popen(cmd, "re");
    if (pipe == nullptr) {
        perror("set_Command");
        return -1;
    }
    if (result != nullptr && size == 1) {
        result[0] = '\0';  // fgets with room for nothing would never advance
    } else if (result != nullptr && size > 1) {
        while (fgets(result, size, pipe) != nullptr) {
        }
    }
    pclose(pipe);
    return 0;
}
