// The sys mount of the board: GPIO lines (sysfs GPIO) and the temperature
// sensor's I2C client and hwmon directories, with kernel-like parsing of
// what is written to them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "board_model.h"

namespace vboard {
namespace {

constexpr int max_gpio = 511;
constexpr size_t max_client_name = 19;  // the kernel's client names hold 20 bytes with the NUL
const char* const gpio_attributes[] = {"direction", "active_low", "edge", "value", "uevent"};
const char* const gpio_root = "/class/gpio";
const char* const adapter_root = "/class/i2c-adapter/i2c-0";

// A sysfs store sees the bytes up to a NUL; one trailing line feed is ignored.
std::string attribute_text(const std::string& bytes)
{
    std::string text = bytes.substr(0, bytes.find('\0'));
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Whole text as an integer (any base prefix), as the kernel's kstrtol.
bool parse_integer(const std::string& text, long* value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

std::string client_dir(uint8_t address)
{
    char name[16];
    std::snprintf(name, sizeof name, "/0-%04x", address);
    return adapter_root + std::string(name);
}

}  // namespace

std::map<std::string, SysEntry> BoardModel::sys_tree()
{
    using K = SysEntry::Kind;
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::string, SysEntry> tree;
    for (const char* dir : {"/", "/class", gpio_root, "/class/i2c-adapter", adapter_root, "/class/hwmon"}) {
        tree[dir] = SysEntry();
    }
    tree[std::string(gpio_root) + "/export"] = SysEntry(K::EXPORT);
    tree[std::string(gpio_root) + "/unexport"] = SysEntry(K::UNEXPORT);
    for (const auto& [gpio, line] : gpio_) {
        const std::string dir = std::string(gpio_root) + "/gpio" + std::to_string(gpio);
        tree[dir] = SysEntry();
        for (const char* attribute : gpio_attributes) {
            tree[dir + "/" + attribute] = SysEntry(K::GPIO_ATTR, gpio, attribute);
        }
    }
    tree[std::string(adapter_root) + "/new_device"] = SysEntry(K::NEW_DEVICE);
    tree[std::string(adapter_root) + "/delete_device"] = SysEntry(K::DELETE_DEVICE);
    for (const auto& [address, client] : clients_) {
        const std::string dir = client_dir(address);
        tree[dir] = SysEntry();
        tree[dir + "/name"] = SysEntry(K::CLIENT_NAME, -1, "", address);
        if (client.hwmon == 0) {
            continue;
        }
        const std::string hwmon = "/hwmon" + std::to_string(client.hwmon);
        tree[dir + "/hwmon"] = SysEntry();
        for (const std::string& base : {dir + "/hwmon" + hwmon, "/class/hwmon" + hwmon}) {
            tree[base] = SysEntry();
            tree[base + "/name"] = SysEntry(K::HWMON_NAME);
            tree[base + "/temp2_input"] = SysEntry(K::TEMP);
        }
    }
    return tree;
}

int BoardModel::sys_read(const std::string& path, std::string* content, uint64_t handle)
{
    if (!value_handle_usable(handle)) {
        return -ENODEV;
    }
    const auto tree = sys_tree();
    const auto it = tree.find(path);
    if (it == tree.end()) {
        return -ENOENT;
    }
    const SysEntry& entry = it->second;
    std::lock_guard<std::mutex> lock(mutex_);
    switch (entry.kind) {
    case SysEntry::Kind::DIR:
        return -EISDIR;
    case SysEntry::Kind::EXPORT:
    case SysEntry::Kind::UNEXPORT:
    case SysEntry::Kind::NEW_DEVICE:
    case SysEntry::Kind::DELETE_DEVICE:
        return -EACCES;  // write-only in the kernel too
    case SysEntry::Kind::GPIO_ATTR: {
        *content = gpio_read(entry.gpio, entry.attribute);
        const auto line = gpio_.find(entry.gpio);
        const auto value_handle = value_handles_.find(handle);
        if (line != gpio_.end() && value_handle != value_handles_.end()) {
            value_handle->second.seen_events = line->second.events;  // re-armed, as a sysfs read does
        }
        if (entry.gpio == attention_gpio && entry.attribute == "value") {
            ++attention_reads_;
        }
        return 0;
    }
    case SysEntry::Kind::CLIENT_NAME: {
        const auto client = clients_.find(entry.address);
        *content = client == clients_.end() ? "" : client->second.name + "\n";
        return 0;
    }
    case SysEntry::Kind::HWMON_NAME:
        *content = "adm1032\n";
        return 0;
    case SysEntry::Kind::TEMP:
        *content = std::to_string(temperature_) + "\n";
        return 0;
    }
    return -EIO;
}

int BoardModel::sys_write(const std::string& path, const char* bytes, size_t length, uint64_t handle)
{
    if (!value_handle_usable(handle)) {
        return -ENODEV;
    }
    const auto tree = sys_tree();
    const auto it = tree.find(path);
    if (it == tree.end()) {
        return -ENOENT;
    }
    const SysEntry entry = it->second;
    const std::string raw(bytes, length);
    const std::string text = attribute_text(raw);
    std::lock_guard<std::mutex> lock(mutex_);
    int result = -EACCES;
    bool gpio_file = true;
    switch (entry.kind) {
    case SysEntry::Kind::EXPORT:
    case SysEntry::Kind::UNEXPORT:
        result = export_write(text, entry.kind == SysEntry::Kind::EXPORT);
        break;
    case SysEntry::Kind::GPIO_ATTR:
        result = gpio_write(entry.gpio, entry.attribute, text);
        break;
    case SysEntry::Kind::NEW_DEVICE:
        gpio_file = false;
        result = new_device_write(raw.substr(0, raw.find('\0')));
        break;
    case SysEntry::Kind::DELETE_DEVICE:
        gpio_file = false;
        result = delete_device_write(text);
        break;
    default:
        gpio_file = false;
        break;
    }
    if (gpio_file) {
        gpio_writes_.push_back(GpioWrite{"/sys" + path, raw, result < 0 ? -result : 0});
    }
    return result < 0 ? result : static_cast<int>(length);
}

// --- GPIO ---

std::string BoardModel::gpio_read(int gpio, const std::string& attribute) const
{
    const auto it = gpio_.find(gpio);
    if (it == gpio_.end()) {
        return "";
    }
    const GpioLine& line = it->second;
    if (attribute == "direction") {
        return line.output ? "out\n" : "in\n";
    }
    if (attribute == "active_low") {
        return line.active_low ? "1\n" : "0\n";
    }
    if (attribute == "edge") {
        return line.edge + "\n";
    }
    if (attribute == "value") {
        return gpio_level(gpio) ? "1\n" : "0\n";
    }
    return "";  // uevent
}

bool BoardModel::gpio_level(int gpio) const
{
    const auto it = gpio_.find(gpio);
    if (it == gpio_.end()) {
        return false;
    }
    const GpioLine& line = it->second;
    // The BMC holds its attention line low while it has a frame for the node.
    const bool level = gpio == attention_gpio ? pending_.empty() : line.output && line.level;
    return level != line.active_low;
}

void BoardModel::note_level_change(int gpio, bool level_before)
{
    const auto it = gpio_.find(gpio);
    const bool level = gpio_level(gpio);
    if (it == gpio_.end() || level == level_before) {
        return;
    }
    const std::string& edge = it->second.edge;
    if (edge != "both" && edge != (level ? "rising" : "falling")) {
        return;
    }
    ++it->second.events;
    for (auto& [handle, value] : value_handles_) {
        if (value.gpio == gpio && value.waiter != nullptr) {
            notifier_.wake(value.waiter);
            value.waiter = nullptr;
        }
    }
}

void BoardModel::set_poll_notifier(const Poll_Notifier& notifier)
{
    std::lock_guard<std::mutex> lock(mutex_);
    notifier_ = notifier;
}

uint64_t BoardModel::value_open(int gpio)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto line = gpio_.find(gpio);
    const uint64_t seen = line == gpio_.end() ? 0 : line->second.events;
    const uint64_t export_id = line == gpio_.end() ? 0 : line->second.export_id;
    value_handles_[next_handle_] = Value_Handle{gpio, export_id, seen, nullptr};
    return next_handle_++;
}

bool BoardModel::value_handle_alive(const Value_Handle& value) const
{
    const auto line = gpio_.find(value.gpio);
    return line != gpio_.end() && line->second.export_id == value.export_id;
}

bool BoardModel::value_handle_usable(uint64_t handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = value_handles_.find(handle);
    return it == value_handles_.end() || value_handle_alive(it->second);
}

void BoardModel::value_close(uint64_t handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = value_handles_.find(handle);
    if (it == value_handles_.end()) {
        return;
    }
    if (it->second.waiter != nullptr) {
        notifier_.drop(it->second.waiter);
    }
    value_handles_.erase(it);
}

bool BoardModel::value_poll(uint64_t handle, void* waiter)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = value_handles_.find(handle);
    if (it == value_handles_.end()) {
        if (waiter != nullptr) {
            notifier_.drop(waiter);
        }
        return false;
    }
    Value_Handle& value = it->second;
    // A poll without a waiter (nobody waits on the file) keeps the one there
    // is: any waiter of a file wakes every wait on it.
    if (waiter != nullptr) {
        if (value.waiter != nullptr) {
            notifier_.drop(value.waiter);
        }
        value.waiter = waiter;
    }
    if (!value_handle_alive(value)) {
        return true;  // as sysfs reports a removed attribute: an error on every poll
    }
    return gpio_.at(value.gpio).events != value.seen_events;
}

void BoardModel::export_line(int gpio)
{
    GpioLine line;
    line.export_id = next_export_id_++;
    gpio_[gpio] = line;
}

int BoardModel::gpio_write(int gpio, const std::string& attribute, const std::string& text)
{
    const auto it = gpio_.find(gpio);
    if (it == gpio_.end()) {
        return -ENOENT;
    }
    GpioLine& line = it->second;
    long value = 0;
    if (attribute == "direction") {
        if (text != "in" && text != "out" && text != "high" && text != "low") {
            return -EINVAL;
        }
        line.output = text != "in";
        line.level = text == "high";
    } else if (attribute == "active_low") {
        if (!parse_integer(text, &value)) {
            return -EINVAL;
        }
        line.active_low = value != 0;
    } else if (attribute == "edge") {
        if (text != "none" && text != "rising" && text != "falling" && text != "both") {
            return -EINVAL;
        }
        if (gpio == attention_gpio && !attention_interrupt_ && text != "none") {
            return -EIO;  // the controller cannot raise an interrupt for this line
        }
        line.edge = text;
    } else if (attribute == "value") {
        if (!line.output) {
            return -EPERM;
        }
        if (!parse_integer(text, &value)) {
            return -EINVAL;
        }
        line.level = (value != 0) != line.active_low;
    }
    return 0;  // uevent accepts anything
}

int BoardModel::export_write(const std::string& text, bool do_export)
{
    long gpio = 0;
    if (!parse_integer(text, &gpio) || gpio < 0 || gpio > max_gpio) {
        return -EINVAL;
    }
    if (!gpio_controller_present_) {
        return -EINVAL;  // no controller serves the number
    }
    const bool exported = gpio_.count(static_cast<int>(gpio)) != 0;
    if (do_export) {
        if (exported) {
            return -EBUSY;
        }
        export_line(static_cast<int>(gpio));
    } else {
        if (!exported) {
            return -EINVAL;
        }
        gpio_.erase(static_cast<int>(gpio));
    }
    return 0;
}

// --- I2C clients and the hwmon driver ---

int BoardModel::lowest_free_hwmon() const
{
    std::set<int> used;
    for (const auto& entry : clients_) {
        used.insert(entry.second.hwmon);
    }
    int n = 1;
    while (used.count(n) != 0) {
        ++n;
    }
    return n;
}

int BoardModel::bind_client(uint8_t address, const std::string& name)
{
    if (clients_.count(address) != 0) {
        return -EBUSY;
    }
    // The driver binds only to a chip that answers at the address.
    const bool binds = name == "adm1032" && sensors_present_.count(address) != 0;
    const int hwmon = binds ? lowest_free_hwmon() : 0;
    clients_[address] = Client{name, hwmon};
    return 0;
}

int BoardModel::new_device_write(const std::string& text)
{
    // "<name> <address>", address in any base, optionally ended by one line feed.
    const size_t blank = text.find(' ');
    if (blank == std::string::npos || blank == 0 || blank > max_client_name) {
        return -EINVAL;
    }
    std::string number = text.substr(blank + 1);
    if (!number.empty() && number.back() == '\n') {
        number.pop_back();
    }
    long address = 0;
    if (!parse_integer(number, &address) || address < 0x01 || address > 0x7f) {
        return -EINVAL;
    }
    return bind_client(static_cast<uint8_t>(address), text.substr(0, blank));
}

int BoardModel::delete_device_write(const std::string& text)
{
    long address = 0;
    if (!parse_integer(text, &address) || address < 0 || address > 0x7f) {
        return -EINVAL;
    }
    return clients_.erase(static_cast<uint8_t>(address)) != 0 ? 0 : -ENOENT;
}

}  // namespace vboard
