// The configuration store: the files it reads, replaces and removes (regular
// files only, within the cap, relative to their folder), the key/value edits
// of the daemon's settings file main_daemon.config, and the module's runner
// of command lines.
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
#include "log_line.h"

const char* const config_file_name = "main_daemon.config";
const char* const information_config_name = "information";
const char* const location_config_name = "location";
const char* const email_config_name = "e-mail";

namespace {

constexpr char config_file_header[] = "#Main Daemon Config File";
static_assert(sizeof(config_file_header) - 1 == 24, "the header is 24 bytes, without a line end");

// A settings file the store creates: 0666 less the umask, as any file.
constexpr mode_t settings_file_mode = 0666;

// Attempts at finding an unused temporary name next to a target.
constexpr int temp_name_attempts = 16;

// What a file of another type than a regular file is, for the log.
const char* type_name(mode_t mode)
{
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    return S_ISLNK(mode) ? "a symbolic link" : "of an unknown type";
}

std::string not_regular(mode_t mode) { return std::string("is ") + type_name(mode) + ", not a regular file"; }

// Creates a fresh file beside `name` in `folder`; its name goes to
// `temp_name`.
int create_temp_beside(int folder, const std::string& name, mode_t mode, std::string& temp_name)
{
    static std::atomic<unsigned> counter{0};
    for (int i = 0; i < temp_name_attempts; ++i) {
        temp_name = name + ".nk-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const int fd = openat(folder, temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// "a/b/c" gives "a/b" and "c", "c" gives "." and "c", "/c" gives "/" and "c".
void split_path(const std::string& path, std::string& folder, std::string& name)
{
    const std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool readable_and_writable(const char* file_name) { return access(file_name, R_OK | W_OK) == 0; }

}  // namespace

std::string error_text(int error)
{
    char text[128];
    return strerror_r(error, text, sizeof text);
}

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

bool remove_config_file(const char* path, const char* caller)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        log_line("[ERROR] %s: %s cannot be examined: %s; left in place\n", caller, path, error_text(errno).c_str());
        return false;
    }
    std::string reason;
    if (S_ISLNK(st.st_mode)) {
        // rm takes the link away and leaves what it names; only a link to a
        // regular file is taken, as the store reads nothing else.
        struct stat target;
        if (stat(path, &target) != 0) {
            reason = "is a symbolic link that cannot be followed: " + error_text(errno);
        } else if (!S_ISREG(target.st_mode)) {
            reason = "is a symbolic link to something that " + not_regular(target.st_mode);
        }
    } else if (!S_ISREG(st.st_mode)) {
        reason = not_regular(st.st_mode);
    }
    if (reason.empty() && unlink(path) != 0 && errno != ENOENT) {
        reason = "cannot be removed: " + error_text(errno);
    }
    if (!reason.empty()) {
        log_line("[ERROR] %s: %s %s; left in place\n", caller, path, reason.c_str());
        return false;
    }
    return true;
}

Config_File::Config_File(const char* path, const char* caller, const char* outcome)
    : path_(path), caller_(caller), outcome_(outcome)
{
    // A symbolic link stays a link: the file it names is the one read and
    // replaced.
    std::string target = path;
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = realpath(path, nullptr);
        if (real == nullptr) {
            open_error_ = "is a symbolic link that cannot be followed: " + error_text(errno);
            return;
        }
        target = real;
        free(real);
    }
    std::string folder;
    split_path(target, folder, name_);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        open_error_ = "lies in a folder that cannot be opened: " + error_text(errno);
        return;
    }
    folder_.emplace(fd);
}

bool Config_File::refuse(const std::string& reason)
{
    refusal_ = reason;
    if (caller_ != nullptr) {
        log_line("[ERROR] %s: %s %s; %s\n", caller_, path_.c_str(), reason.c_str(), outcome_);
    }
    return false;
}

bool Config_File::read()
{
    missing_ = false;
    content_.clear();
    refusal_.clear();
    if (!folder_) {
        return refuse(open_error_);
    }
    // The type is looked at before opening: opening a device can have
    // effects of its own.
    struct stat st;
    if (fstatat(folder_->get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        missing_ = errno == ENOENT;
        return missing_ ? false : refuse("cannot be examined: " + error_text(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse(not_regular(st.st_mode));
    }
    // Whatever replaced the file since is checked again on the descriptor;
    // O_NONBLOCK keeps a FIFO swapped in from blocking the open.
    Fd_Holder fd(openat(folder_->get(), name_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        missing_ = errno == ENOENT;
        return missing_ ? false
                        : refuse(errno == ELOOP ? "became a symbolic link" : "cannot be opened: " + error_text(errno));
    }
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return refuse(not_regular(st.st_mode));
    }
    const std::string too_large = "is larger than " + std::to_string(config_file_cap) + " bytes";
    if (static_cast<std::size_t>(st.st_size) > config_file_cap) {
        return refuse(too_large);
    }
    char block[4096];
    while (content_.size() <= config_file_cap) {
        const ssize_t n = ::read(fd.get(), block, sizeof block);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            content_.clear();
            return refuse("cannot be read: " + error_text(errno));
        }
        if (n == 0) {
            return true;
        }
        content_.append(block, static_cast<std::size_t>(n));
    }
    content_.clear();  // it grew while being read
    return refuse(too_large);
}

bool Config_File::replace(std::string_view content, mode_t new_file_mode)
{
    refusal_.clear();
    if (content.size() > config_file_cap) {
        return refuse("would grow past " + std::to_string(config_file_cap) + " bytes with this edit");
    }
    if (!folder_) {
        return refuse(open_error_);
    }
    const int folder = folder_->get();
    struct stat old_st;
    const bool exists = fstatat(folder, name_.c_str(), &old_st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        return refuse("cannot be examined: " + error_text(errno));
    }
    if (exists && !S_ISREG(old_st.st_mode)) {
        return refuse(not_regular(old_st.st_mode));
    }
    std::string temp_name;
    Fd_Holder fd(create_temp_beside(folder, name_, exists ? 0600 : new_file_mode, temp_name));
    if (fd.get() < 0) {
        return refuse("cannot be replaced (no temporary file beside it): " + error_text(errno));
    }
    if (exists) {
        (void)!fchown(fd.get(), old_st.st_uid, old_st.st_gid);  // kept where the process may
    }
    // rename replaces the name in the folder held open, whatever it holds
    // by then: it never follows a link.
    const bool ok = (!exists || fchmod(fd.get(), old_st.st_mode & 07777) == 0) &&
                    write_all(fd.get(), content.data(), content.size()) && fsync(fd.get()) == 0 && fd.close_now() &&
                    renameat(folder, temp_name.c_str(), folder, name_.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        unlinkat(folder, temp_name.c_str(), 0);
        return refuse("cannot be replaced: " + error_text(error));
    }
    (void)fsync(folder);
    return true;
}

uint8_t get_Config_Data(const char* file_name, const char* name, char* buffer, char token, const char* ignore_str,
                        bool ignore_comment_flag)
{
    if (!readable_and_writable(file_name)) {
        return 1;
    }
    Config_File file(file_name, __func__);
    if (!file.read()) {
        return 1;
    }
    const auto value = config_edit::find_value(file.content(), name, token, ignore_str, ignore_comment_flag);
    if (!value) {
        return 2;
    }
    const std::size_t n = std::min(value->size(), caller_buffer_size - 1);
    std::memcpy(buffer, value->data(), n);
    buffer[n] = '\0';
    return 0;
}

namespace {

// The frame of every edit: make sure the target can be edited (the
// settings file, when missing, starts as its header), read it once,
// transform its text, and write the result back once when it changed.
// Only the settings file itself is generated, and only when it is missing,
// so that no other target ever truncates the stored settings. `edit`
// returns the edit's own result and fills the new text.
template <typename Edit>
uint8_t edit_file(const char* file_name, const char* caller, Edit edit)
{
    const bool usable = readable_and_writable(file_name);
    const bool generate = !usable && errno == ENOENT && std::strcmp(file_name, config_file_name) == 0;
    if (!usable && !generate) {
        return 1;
    }
    Config_File file(file_name, caller);
    std::string content;
    if (generate) {
        content.assign(config_file_header, sizeof(config_file_header) - 1);
    } else if (file.read()) {
        content = file.content();
    } else {
        return 2;
    }
    std::string updated;
    const uint8_t result = edit(content, updated);
    if ((generate || updated != content) && !file.replace(updated, settings_file_mode)) {
        return generate ? 1 : 3;
    }
    return result;
}

}  // namespace

uint8_t set_Config_Data(const char* file_name, const char* name, const char* data, char token, const char* ignore_str)
{
    return edit_file(file_name, __func__, [&](const std::string& content, std::string& updated) {
        return config_edit::replace_entries(content, name, data, token, ignore_str, updated);
    });
}

uint8_t set_Config_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                const char* ignore_str)
{
    return edit_file(file_name, __func__, [&](const std::string& content, std::string& updated) {
        updated = config_edit::comment_entries(content, name, set_comment, token, ignore_str);
        return uint8_t{0};
    });
}

bool set_Config_File_Generate()
{
    Config_File file(config_file_name, __func__);
    return file.replace(std::string_view(config_file_header, sizeof(config_file_header) - 1), settings_file_mode);
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
    const char* const argv[] = {"sh", "-c", cmd, nullptr};
    const Program_Call call{"sh -c", argv, command_line_deadline};
    Program_Result run;
    run_program_call(&call, &run);
    const bool started = run.outcome != Program_Outcome::NOT_STARTED;
    if (!started || run.outcome == Program_Outcome::TIMED_OUT) {
        log_line("[ERROR] set_Command: %s\n", describe_program_failure(call, run).c_str());
    }
    if (result != nullptr && size > 0) {
        const std::string last = last_output_piece(run.output, static_cast<std::size_t>(size));
        std::memcpy(result, last.c_str(), last.size() + 1);
    }
    return started ? 0 : -1;
}
