// State and behaviour of the virtual board, apart from FUSE: the BMC behind
// the I2C bus, the GPIO lines, the temperature sensors and the EEPROM window.
// The filesystem threads and the control API both call it; one mutex guards
// everything. Results of the file-like operations are byte counts or -errno,
// as the filesystem returns them.
#pragma once

#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "virtual_board.h"

namespace vboard {

// What a path of the sys mount is.
struct SysEntry {
    enum class Kind { DIR, EXPORT, UNEXPORT, GPIO_ATTR, NEW_DEVICE, DELETE_DEVICE, CLIENT_NAME, HWMON_NAME, TEMP };
    explicit SysEntry(Kind k = Kind::DIR, int g = -1, std::string a = {}, uint8_t addr = 0)
        : kind(k), gpio(g), attribute(std::move(a)), address(addr)
    {}
    Kind kind;
    int gpio;               // GPIO_ATTR
    std::string attribute;  // GPIO_ATTR: direction, active_low, edge, value, uevent
    uint8_t address;        // CLIENT_NAME
    bool writable() const
    {
        return kind != Kind::DIR && kind != Kind::CLIENT_NAME && kind != Kind::HWMON_NAME && kind != Kind::TEMP;
    }
};

class BoardModel {
public:
    explicit BoardModel(const BoardOptions& options);

    // --- dev/i2c-0: per open file a handle that holds the selected slave
    // (0 until selected); one call is one transaction (stall applied outside the lock) ---
    uint64_t i2c_open();
    void i2c_close(uint64_t handle);
    int i2c_select(uint64_t handle, unsigned long address);  // 0, or -EINVAL above 0x7f
    int i2c_read(uint64_t handle, uint8_t* buffer, size_t length);
    int i2c_write(uint64_t handle, const uint8_t* bytes, size_t length);
    int i2c_probe(uint64_t handle);

    // --- dev/mem ---
    bool has_eeprom() const { return eeprom_enabled_; }
    size_t mem_read(uint64_t offset, uint8_t* buffer, size_t length);

    // --- the sys mount: a snapshot of the tree, keyed by path ("/", "/class/gpio", ...) ---
    std::map<std::string, SysEntry> sys_tree();
    // handle: what value_open gave the file (0 for other files); a read
    // re-arms the handle's edge events. A value file whose line was
    // unexported since its open is dead: reads and writes fail with -ENODEV.
    int sys_read(const std::string& path, std::string* content, uint64_t handle = 0);
    int sys_write(const std::string& path, const char* bytes, size_t length, uint64_t handle = 0);

    // --- polling a GPIO value file as sysfs does. A waiter is the FUSE poll
    // handle of one poll() or epoll wait, opaque here: the model wakes it
    // once at the next edge (through the notifier) and then forgets it, or
    // drops it when it is replaced or its file is closed ---
    struct Poll_Notifier {
        void (*wake)(void* waiter);  // wakes and releases the waiter
        void (*drop)(void* waiter);  // releases it without waking
    };
    void set_poll_notifier(const Poll_Notifier& notifier);
    uint64_t value_open(int gpio);  // a handle whose events start now
    void value_close(uint64_t handle);
    // True when an edge came since the handle's last read, and always for a
    // dead handle (its line unexported since the open); waiter (may be null)
    // takes the handle's place in the queue of waiters.
    bool value_poll(uint64_t handle, void* waiter);

    // --- open files and folders of both mounts, so that unmounting can wait
    // for the releases the kernel sends after close(2) ---
    void handle_opened();
    void handle_released();
    bool wait_all_released(std::chrono::milliseconds timeout);

    // --- control ---
    void queue_bmc_frame(const Bytes& frame);
    size_t pending_frames();
    std::vector<ReceivedFrame> received_frames();
    bool wait_received(size_t count, std::chrono::milliseconds timeout);
    bool wait_delivered(std::chrono::milliseconds timeout);
    void fail_next_writes(unsigned count);
    void set_stall(std::chrono::milliseconds delay);
    void set_bmc_present(bool present);
    void set_gpio_controller_present(bool present);
    void set_temperature(int millidegrees);
    void add_sensor(uint8_t address, bool bound);
    void remove_sensor(uint8_t address);
    void set_eeprom_bytes(size_t offset, const Bytes& bytes);
    void set_serial(const std::string& text);
    std::vector<GpioWrite> gpio_writes();
    std::vector<Transaction> transactions();
    uint64_t attention_reads();

private:
    struct GpioLine {
        bool output = false;
        bool active_low = false;
        std::string edge = "none";
        bool level = false;      // driven level of an output
        uint64_t events = 0;     // edges the edge attribute selected, so far
        uint64_t export_id = 0;  // tells this export of the line from earlier ones
    };
    // An open value file: the export of the line it was opened on, the
    // events it has seen, its waiter.
    struct Value_Handle {
        int gpio;
        uint64_t export_id;
        uint64_t seen_events;
        void* waiter;
    };
    // An I2C client on adapter 0 (new_device, or bound at start); hwmon 0 when no driver bound.
    struct Client {
        std::string name;
        int hwmon = 0;
    };

    uint8_t slave_of(uint64_t handle) const;
    void log_transaction(TransactionKind kind, uint8_t address, size_t length, int error);
    // Takes the lock for a read or write on `handle`, after the BMC's stall; returns the slave.
    uint8_t begin_transfer(uint64_t handle, std::unique_lock<std::mutex>& lock);
    bool device_present(uint8_t address) const;
    int bind_client(uint8_t address, const std::string& name);
    int lowest_free_hwmon() const;
    std::string gpio_read(int gpio, const std::string& attribute) const;
    bool gpio_level(int gpio) const;  // the level the value file reads
    void export_line(int gpio);
    // False for a value handle whose line was unexported since its open.
    bool value_handle_alive(const Value_Handle& value) const;
    // False for a dead value handle; true for a live one and for any other
    // file (handle 0).
    bool value_handle_usable(uint64_t handle);
    // Counts an edge of the line when its edge attribute selects it and wakes
    // the line's waiters; level_before is gpio_level() before the change.
    void note_level_change(int gpio, bool level_before);
    int gpio_write(int gpio, const std::string& attribute, const std::string& text);
    int export_write(const std::string& text, bool do_export);
    int new_device_write(const std::string& text);
    int delete_device_write(const std::string& text);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;

    std::map<uint64_t, uint8_t> slaves_;  // open handles of dev/i2c-0 and their slave address
    uint64_t next_handle_ = 1;
    size_t open_handles_ = 0;

    bool bmc_present_;
    std::deque<Bytes> pending_;
    std::vector<ReceivedFrame> received_;
    unsigned fail_writes_ = 0;
    std::chrono::milliseconds stall_{0};
    std::vector<Transaction> transactions_;

    std::map<int, GpioLine> gpio_;
    std::vector<GpioWrite> gpio_writes_;
    bool attention_interrupt_;
    bool gpio_controller_present_ = true;
    uint64_t next_export_id_ = 1;
    uint64_t attention_reads_ = 0;
    std::map<uint64_t, Value_Handle> value_handles_;  // keys share next_handle_ with dev/i2c-0
    Poll_Notifier notifier_{nullptr, nullptr};

    std::set<uint8_t> sensors_present_;
    std::map<uint8_t, Client> clients_;
    int temperature_;

    bool eeprom_enabled_;
    std::array<uint8_t, eeprom_window_size> eeprom_{};
};

}  // namespace vboard
