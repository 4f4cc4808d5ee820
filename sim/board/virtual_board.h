// The virtual node board: a FUSE filesystem that behaves like the kernel
// interfaces the daemon uses, with the simulated BMC behind its I2C bus.
//
// Mounted at <prefix>/dev and <prefix>/sys, where <prefix> is the daemon's
// platform prefix (tests: NODEKEEPER_TEST_SYSROOT). Served in-process by
// background threads for the board's lifetime (RAII: the constructor mounts,
// the destructor unmounts). What the daemon sees:
//
//   dev/i2c-0   i2c-dev: each read(2)/write(2) is one I2C transaction.
//               ioctl I2C_SLAVE (0x0703) / I2C_SLAVE_FORCE selects the slave per
//               open file (-EINVAL above 0x7f); ioctl I2C_SMBUS (0x0720) is a
//               probe: 0 where a device answers, -ENXIO elsewhere (no data is
//               returned). Other requests: -ENOTTY.
//               0x08 is the BMC: a write is one frame from the node; a read
//               returns the BMC's oldest pending frame, cut or padded with zeros
//               to the length read, and delivers it (zeros when none pending).
//               0x4c / 0x4d: temperature sensors when present (reads give
//               zeros, writes are accepted). Elsewhere: -ENXIO.
//   dev/mem     the EEPROM window: size 0x10000000 + 512, zero except the 512
//               bytes at 0x10000000; read-only, mappable (MAP_PRIVATE PROT_READ).
//               Serial record at window offset 80: code 85 ('U'), text, NUL.
//   sys/class/gpio/export, unexport
//               "<n>" ended by NUL, LF or nothing; export creates gpio<n>/ with
//               direction, active_low, edge, value, uevent (-EBUSY when exported,
//               -EINVAL for a bad number, lines 0..511).
//   sys/class/gpio/gpio<n>/*
//               kernel semantics: direction in|out|high|low, edge
//               none|rising|falling|both, active_low 0|1 (-EINVAL otherwise);
//               value writable on outputs only (-EPERM on inputs). Line 480 is
//               the BMC's attention line: value reads "0\n" while the BMC holds a
//               frame for the node, "1\n" otherwise (inverted by active_low).
//               Its value file polls as sysfs does: POLLPRI | POLLERR once an
//               edge that `edge` selects has come since the descriptor's last
//               read (or its open), until the next read; a poll() or epoll
//               waiter is woken at the edge (fuse_notify_poll). Without an
//               interrupt (BoardOptions::attention_interrupt false) the line
//               refuses every edge but "none" with -EIO, as the kernel does.
//               "<n>" to unexport removes the line's folder as the kernel
//               does: a value file still open is dead from then on (reads and
//               writes fail with ENODEV, every poll reports POLLERR | POLLPRI),
//               even after the line is exported again.
//               Every write under sys/class/gpio is logged byte for byte.
//   sys/class/i2c-adapter/i2c-0/new_device, delete_device
//               "adm1032 0x4c\n" creates client 0-004c/; when a sensor is present
//               at the address the driver binds: 0-004c/hwmon/hwmon<N>/ and
//               sys/class/hwmon/hwmon<N>/ appear, each with name ("adm1032\n") and
//               temp2_input (board temperature in millidegrees, "45500\n").
//               N counts from 1, lowest free number first. "0x4c\n" to
//               delete_device removes the client.
//
// Every file except dev/mem is direct I/O (no caching): every read is fresh,
// every read(2)/write(2) reaches the board as one call. Every file accepts
// poll() and epoll registration; files other than the value files are always
// ready, as sysfs and i2c-dev files are.
//
// Thread safety: every member may be called from any thread at any time; the
// board's state is guarded by one mutex that the filesystem threads share.
// Never hold the board's state across a filesystem call of your own.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bmc_frames.h"

namespace vboard {

constexpr uint8_t bmc_address = 0x08;
constexpr uint8_t sensor_address_4c = 0x4c;
constexpr uint8_t sensor_address_4d = 0x4d;
constexpr int attention_gpio = 480;
constexpr size_t eeprom_window_size = 512;
constexpr uint64_t eeprom_window_offset = 0x10000000;
constexpr size_t serial_record_offset = 80;
constexpr uint8_t serial_record_code = 85;

// Which of the two sensor addresses: a bit set.
enum SensorSet : uint8_t { SENSOR_NONE = 0, SENSOR_4C = 1, SENSOR_4D = 2, SENSOR_BOTH = 3 };

struct BoardOptions {
    std::string prefix;                     // mounts at prefix/dev and prefix/sys (created if missing)
    SensorSet sensors_present = SENSOR_4C;  // devices answering on the bus
    SensorSet sensors_bound = SENSOR_NONE;  // driver bound at start (implies present)
    int temperature = 45500;                // millidegrees Celsius
    std::string serial = "NRL-SIM-0001";    // serial record text (code 85)
    bool eeprom = true;                     // false: no dev/mem at all
    bool bmc_present = true;                // false: nothing answers at 0x08
    std::vector<int> exported_gpios;        // lines already exported at start (direction "in")
    bool attention_interrupt = true;        // false: line 480 cannot raise an interrupt (edge "none" only)
};

using Clock = std::chrono::steady_clock;

// A frame the node wrote to the BMC (one successful write at 0x08).
struct ReceivedFrame {
    Bytes raw;
    DecodedFrame decoded;
    Clock::time_point time;
};

enum class TransactionKind { READ, WRITE, PROBE };

// One I2C transaction on dev/i2c-0 (I2C_SLAVE selects, it is not logged).
struct Transaction {
    TransactionKind kind;
    uint8_t address;
    size_t length;  // bytes asked for (0 for a probe)
    int error;      // 0 or the errno it failed with (ENXIO, EREMOTEIO)
    Clock::time_point time;
};

// One write(2) under sys/class/gpio. path is the node's path, e.g.
// "/sys/class/gpio/gpio480/direction"; bytes exactly as written.
struct GpioWrite {
    std::string path;
    std::string bytes;
    int error;  // 0 or the errno the write failed with
};

class VirtualBoard {
public:
    // Mounts the board; first detaches a board still mounted at the same
    // place (left by a crashed or hanging run).
    // Throws std::runtime_error when it cannot mount.
    explicit VirtualBoard(const BoardOptions& options);
    // Serves the releases of files closed just before (up to 0.5 s), then
    // unmounts; files still open on the board fail with ENOTCONN from then on.
    ~VirtualBoard();
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    const std::string& prefix() const;  // absolute

    // --- the BMC ---
    // Queues a frame for the node (raw bytes, 1..256) and pulls the attention line low.
    void queue_bmc_frame(const Bytes& frame);
    size_t pending_frames() const;                       // frames the node has not read yet
    bool attention_line_high() const;                    // level of the line: false while frames are pending
    std::vector<ReceivedFrame> received_frames() const;  // all, oldest first
    // Waits until at least `count` frames have been received in all; true when they have.
    bool wait_received(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until the node has read every pending frame; true when it has.
    bool wait_delivered(std::chrono::milliseconds timeout) const;

    // --- faults ---
    void fail_next_writes(unsigned count);            // next writes at 0x08 fail with EREMOTEIO (NACK)
    void set_stall(std::chrono::milliseconds delay);  // each BMC read/write sleeps first (0: off)
    void set_bmc_present(bool present);               // false: -ENXIO at 0x08
    // false: the GPIO controller goes (a driver unloaded): every exported line
    // goes as by unexport, and export fails with EINVAL until it is back.
    void set_gpio_controller_present(bool present);

    // --- the temperature sensor ---
    void set_temperature(int millidegrees);
    // Puts a sensor on the bus at 0x4c or 0x4d; with bound, its driver as well.
    void add_sensor(uint8_t address, bool bound);
    void remove_sensor(uint8_t address);  // device, client and hwmon directory go

    // --- the EEPROM window ---
    void set_serial(const std::string& text);                  // code 85, text, NUL (text cut to fit)
    void set_serial_code(uint8_t code);                        // byte 80 only
    void set_eeprom_bytes(size_t offset, const Bytes& bytes);  // raw window bytes (cut at 512)

    // --- what happened ---
    std::vector<GpioWrite> gpio_writes() const;
    std::vector<Transaction> transactions() const;
    // Reads of line 480's value file so far (a link that samples the line
    // reads it once per look).
    uint64_t attention_reads() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vboard
