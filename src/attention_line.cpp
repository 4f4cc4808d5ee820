// The link's attention line (see attention_line.h).
#include "attention_line.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/epoll.h>

#include <cstring>

#include "I2C_BMC_packet_thread.h"
#include "log_line.h"
#include "sysfs_attribute.h"

namespace {

const char* const thread_name = "I2C_BMC_Packet_Thread";

// Opens the value file and registers it for the line's edge. 0, or the errno
// of the failed call (*what names it).
int open_value_file(Attention_Line& line, const char** what)
{
    const int fd = open(line.value_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *what = "open()";
        return errno;
    }
    line.value_fd.reset(fd);
    struct epoll_event event = {};
    event.events = EPOLLPRI | EPOLLERR;
    event.data.fd = fd;
    if (epoll_ctl(line.epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
        const int error = errno;
        line.value_fd.reset(-1);
        *what = "epoll_ctl()";
        return error;
    }
    return 0;
}

// Takes the dead value file out of the epoll set and closes it.
void drop_value_file(Attention_Line& line)
{
    (void)epoll_ctl(line.epoll_fd, EPOLL_CTL_DEL, line.value_fd.get(), nullptr);
    line.value_fd.reset(-1);
}

}  // namespace

bool open_attention_line(Attention_Line& line, int epoll_fd)
{
    line.epoll_fd = epoll_fd;
    get_GPIO_Path(bmc_attention_gpio, line.value_path, GPIO_FILE_TYEP::VALUE);
    const Gpio_Edge_Result edge = init_gpio_edge_input(bmc_attention_gpio, GPIO_EDGE::FALLING);
    line.interrupt = edge == Gpio_Edge_Result::SELECTED;
    if (edge == Gpio_Edge_Result::REFUSED) {
        log_line("[INFO] %s: attention line has no interrupt, sampling it every %d ms\n", thread_name,
                 sampling_period_ms);
    }
    const char* what = "";
    const int error = open_value_file(line, &what);
    if (error != 0) {
        log_line("[ERROR] %s: %s error: %s: %s\n", thread_name, what, line.value_path, strerror(error));
        return false;
    }
    return true;
}

Line_Level read_attention_line(Attention_Line& line, Link_Clock::time_point now)
{
    if (line.value_fd.get() < 0) {
        return Line_Level::LOST;
    }
    char text[2];
    if (read_sysfs_attribute_at(line.value_fd.get(), text, sizeof text) < 0) {
        const int error = errno;
        log_line("[ERROR] %s: attention line read error: %s: %s\n", thread_name, line.value_path, strerror(error));
        drop_value_file(line);
        line.retry_at = now + line_recovery_period;
        return Line_Level::LOST;
    }
    // Only a '0' that was read now counts: an empty read is no level.
    return text[0] == '0' ? Line_Level::LOW : Line_Level::HIGH;
}

void recover_attention_line(Attention_Line& line, Link_Clock::time_point now)
{
    if (line.value_fd.get() >= 0 || now < line.retry_at) {
        return;
    }
    line.retry_at = now + line_recovery_period;
    const Gpio_Edge_Result edge = init_gpio_edge_input(bmc_attention_gpio, GPIO_EDGE::FALLING, Gpio_Logging::QUIET);
    const char* what = "";
    if (edge == Gpio_Edge_Result::FAILED || open_value_file(line, &what) != 0) {
        return;
    }
    line.interrupt = edge == Gpio_Edge_Result::SELECTED;
    log_line("[INFO] %s: attention line back: %s\n", thread_name, line.value_path);
}

int choose_idle_wait_ms(const Attention_Line& line, Link_Clock::time_point now)
{
    if (line.value_fd.get() >= 0) {
        return line.interrupt ? interrupt_recheck_ms : sampling_period_ms;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(line.retry_at - now).count();
    return left < 0 ? 0 : static_cast<int>(left);
}
