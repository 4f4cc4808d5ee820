// FUSE glue of the board: maps file operations of dev/ and sys/ onto the
// BoardModel. Every file but dev/mem is direct I/O.
#include "board_fs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "board_model.h"

namespace vboard {
namespace {

constexpr unsigned long i2c_slave = 0x0703;
constexpr unsigned long i2c_slave_force = 0x0706;
constexpr unsigned long i2c_smbus = 0x0720;
constexpr size_t i2c_max_transfer = 8192;  // as i2c-dev limits one read or write
constexpr off_t mem_size = static_cast<off_t>(eeprom_window_offset + eeprom_window_size);
constexpr off_t sysfs_file_size = 4096;  // what sysfs reports for every attribute

BoardModel& model() { return *static_cast<BoardModel*>(fuse_get_context()->private_data); }

void wake_poll_waiter(void* waiter)
{
    auto* handle = static_cast<struct fuse_pollhandle*>(waiter);
    fuse_notify_poll(handle);
    fuse_pollhandle_destroy(handle);
}

void drop_poll_waiter(void* waiter) { fuse_pollhandle_destroy(static_cast<struct fuse_pollhandle*>(waiter)); }

void* init(struct fuse_conn_info*, struct fuse_config* config)
{
    // Nothing is cached: files appear and vanish (export, new_device) at any time.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    model().set_poll_notifier(BoardModel::Poll_Notifier{wake_poll_waiter, drop_poll_waiter});
    return fuse_get_context()->private_data;
}

void fill_dir(struct stat* st)
{
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
}

void fill_file(struct stat* st, mode_t mode, off_t size)
{
    st->st_mode = S_IFREG | mode;
    st->st_nlink = 1;
    st->st_size = size;
}

// --- dev ---

int dev_getattr(const char* path, struct stat* st, struct fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        fill_dir(st);
    } else if (std::strcmp(path, "/i2c-0") == 0) {
        fill_file(st, 0600, 0);
    } else if (std::strcmp(path, "/mem") == 0 && model().has_eeprom()) {
        fill_file(st, 0440, mem_size);
    } else {
        return -ENOENT;
    }
    return 0;
}

int dev_readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t, struct fuse_file_info*,
                enum fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0) {
        return -ENOTDIR;
    }
    for (const char* name : {".", "..", "i2c-0", "mem"}) {
        if (std::strcmp(name, "mem") != 0 || model().has_eeprom()) {
            filler(buffer, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        }
    }
    return 0;
}

int dev_open(const char* path, struct fuse_file_info* fi)
{
    if (std::strcmp(path, "/i2c-0") == 0) {
        fi->direct_io = 1;
        fi->fh = model().i2c_open();
        model().handle_opened();
        return 0;
    }
    if (std::strcmp(path, "/mem") == 0 && model().has_eeprom()) {
        if ((fi->flags & O_ACCMODE) != O_RDONLY) {
            return -EACCES;
        }
        fi->keep_cache = 0;  // a new open sees the window as it is now
        model().handle_opened();
        return 0;
    }
    return -ENOENT;
}

int dev_release(const char* path, struct fuse_file_info* fi)
{
    if (std::strcmp(path, "/i2c-0") == 0) {
        model().i2c_close(fi->fh);
    }
    model().handle_released();
    return 0;
}

// Counted so that unmounting can wait until the kernel has released every
// handle closed before (releases arrive after close(2) returns).
int counted_open(const char*, struct fuse_file_info*)
{
    model().handle_opened();
    return 0;
}

int counted_release(const char*, struct fuse_file_info*)
{
    model().handle_released();
    return 0;
}

// What sysfs and i2c-dev files always report.
constexpr unsigned ready_events = POLLIN | POLLOUT | POLLRDNORM | POLLWRNORM;

// Every file but a GPIO value file is always ready: no events to wait for.
int any_poll(const char*, struct fuse_file_info*, struct fuse_pollhandle* handle, unsigned* events)
{
    if (handle != nullptr) {
        fuse_pollhandle_destroy(handle);
    }
    *events = ready_events;
    return 0;
}

int dev_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi)
{
    if (std::strcmp(path, "/mem") == 0) {
        return static_cast<int>(
            model().mem_read(static_cast<uint64_t>(offset), reinterpret_cast<uint8_t*>(buffer), size));
    }
    return model().i2c_read(fi->fh, reinterpret_cast<uint8_t*>(buffer), std::min(size, i2c_max_transfer));
}

int dev_write(const char* path, const char* bytes, size_t size, off_t, struct fuse_file_info* fi)
{
    if (std::strcmp(path, "/i2c-0") != 0) {
        return -EACCES;
    }
    if (size > i2c_max_transfer) {
        return -EINVAL;
    }
    return model().i2c_write(fi->fh, reinterpret_cast<const uint8_t*>(bytes), size);
}

int dev_ioctl(const char* path, unsigned int cmd, void* arg, struct fuse_file_info* fi, unsigned int, void*)
{
    if (std::strcmp(path, "/i2c-0") != 0) {
        return -ENOTTY;
    }
    // Both requests carry no data that FUSE could pass: the address comes by
    // value, the SMBus data pointer without what it points to.
    switch (cmd) {
    case i2c_slave:
    case i2c_slave_force:
        return model().i2c_select(fi->fh, reinterpret_cast<unsigned long>(arg));
    case i2c_smbus:
        return model().i2c_probe(fi->fh);
    default:
        return -ENOTTY;
    }
}

int dev_truncate(const char* path, off_t, struct fuse_file_info*)
{
    return std::strcmp(path, "/i2c-0") == 0 ? 0 : -EACCES;
}

// --- sys ---

bool find_sys_entry(const char* path, SysEntry* entry)
{
    const auto tree = model().sys_tree();
    const auto it = tree.find(path);
    if (it == tree.end()) {
        return false;
    }
    *entry = it->second;
    return true;
}

int sys_getattr(const char* path, struct stat* st, struct fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    SysEntry entry;
    if (!find_sys_entry(path, &entry)) {
        return -ENOENT;
    }
    if (entry.kind == SysEntry::Kind::DIR) {
        fill_dir(st);
    } else {
        const bool write_only = entry.kind == SysEntry::Kind::EXPORT || entry.kind == SysEntry::Kind::UNEXPORT ||
                                entry.kind == SysEntry::Kind::NEW_DEVICE || entry.kind == SysEntry::Kind::DELETE_DEVICE;
        fill_file(st, write_only ? 0200 : entry.writable() ? 0644 : 0444, sysfs_file_size);
    }
    return 0;
}

int sys_readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t, struct fuse_file_info*,
                enum fuse_readdir_flags)
{
    const auto tree = model().sys_tree();
    const auto it = tree.find(path);
    if (it == tree.end()) {
        return -ENOENT;
    }
    if (it->second.kind != SysEntry::Kind::DIR) {
        return -ENOTDIR;
    }
    const std::string prefix = std::strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
    filler(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    filler(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const auto& [child, entry] : tree) {
        if (child.size() > prefix.size() && child.compare(0, prefix.size(), prefix) == 0 &&
            child.find('/', prefix.size()) == std::string::npos) {
            filler(buffer, child.c_str() + prefix.size(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        }
    }
    return 0;
}

int sys_open(const char* path, struct fuse_file_info* fi)
{
    SysEntry entry;
    if (!find_sys_entry(path, &entry)) {
        return -ENOENT;
    }
    if (entry.kind == SysEntry::Kind::DIR) {
        return -EISDIR;
    }
    if ((fi->flags & O_ACCMODE) != O_RDONLY && !entry.writable()) {
        return -EACCES;
    }
    fi->direct_io = 1;
    const bool value_file = entry.kind == SysEntry::Kind::GPIO_ATTR && entry.attribute == "value";
    fi->fh = value_file ? model().value_open(entry.gpio) : 0;
    model().handle_opened();
    return 0;
}

int sys_release(const char* path, struct fuse_file_info* fi)
{
    if (fi->fh != 0) {
        model().value_close(fi->fh);
    }
    return counted_release(path, fi);
}

// A value file reports POLLPRI | POLLERR from an edge until its next read.
int sys_poll(const char* path, struct fuse_file_info* fi, struct fuse_pollhandle* handle, unsigned* events)
{
    if (fi->fh == 0) {
        return any_poll(path, fi, handle, events);
    }
    const bool edge = model().value_poll(fi->fh, handle);
    *events = ready_events | (edge ? POLLPRI | POLLERR : 0u);
    return 0;
}

int sys_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi)
{
    std::string content;
    const int result = model().sys_read(path, &content, fi->fh);
    if (result < 0) {
        return result;
    }
    if (offset < 0 || static_cast<size_t>(offset) >= content.size()) {
        return 0;
    }
    const size_t n = std::min(size, content.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, content.data() + offset, n);
    return static_cast<int>(n);
}

int sys_write(const char* path, const char* bytes, size_t size, off_t, struct fuse_file_info* fi)
{
    return model().sys_write(path, bytes, size, fi->fh);
}

int sys_truncate(const char* path, off_t, struct fuse_file_info*)
{
    // `echo ... > attribute` opens with O_TRUNC; sysfs ignores it.
    SysEntry entry;
    if (!find_sys_entry(path, &entry)) {
        return -ENOENT;
    }
    return entry.writable() ? 0 : -EACCES;
}

// What both mounts do alike: no caching, poll, counted folder handles.
struct fuse_operations common_operations()
{
    struct fuse_operations ops = {};
    ops.init = init;
    ops.poll = any_poll;
    ops.opendir = counted_open;
    ops.releasedir = counted_release;
    return ops;
}

struct fuse_operations make_dev_operations()
{
    struct fuse_operations ops = common_operations();
    ops.getattr = dev_getattr;
    ops.readdir = dev_readdir;
    ops.open = dev_open;
    ops.release = dev_release;
    ops.read = dev_read;
    ops.write = dev_write;
    ops.ioctl = dev_ioctl;
    ops.truncate = dev_truncate;
    return ops;
}

struct fuse_operations make_sys_operations()
{
    struct fuse_operations ops = common_operations();
    ops.getattr = sys_getattr;
    ops.readdir = sys_readdir;
    ops.open = sys_open;
    ops.release = sys_release;
    ops.poll = sys_poll;
    ops.read = sys_read;
    ops.write = sys_write;
    ops.truncate = sys_truncate;
    return ops;
}

}  // namespace

const fuse_operations& dev_operations()
{
    static const fuse_operations ops = make_dev_operations();
    return ops;
}

const fuse_operations& sys_operations()
{
    static const fuse_operations ops = make_sys_operations();
    return ops;
}

}  // namespace vboard
