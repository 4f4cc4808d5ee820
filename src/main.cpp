// nodekeeper: resident management daemon of the node card.
//
// main only wires the modules together. With an option it does that one
// thing and exits (daemon_options). Without, it runs the daemon: find the
// temperature sensor, start the BMC I2C link, announce the daemon, send the
// node's description and tell the service manager it is ready. Then, every
// two seconds: refresh the default address and the temperature, send the
// BMC what is due (status_report) and feed the service watchdog while the
// link makes progress. Nothing stops the daemon but a signal.
//
// The loop's two seconds (main_loop_period, daemon_timing.h) are also the
// watchdog's clock: a ping goes out on every pass (about every 2 s plus the
// pass's work) while the link's counter moves, far more often than the
// unit's WatchdogSec (60 s) needs, so the loop's period and with it the
// report schedule stay as they are.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <thread>

#include "I2C_BMC_packet_thread.h"
#include "buffer_sizes.h"
#include "config.h"
#include "daemon_options.h"
#include "daemon_timing.h"
#include "journal_stream.h"
#include "log_line.h"
#include "platform_paths.h"
#include "sensor.h"
#include "service_notify.h"
#include "status_report.h"

namespace {

const char* const ready_message = "READY=1\nSTATUS=reporting to the BMC on " NK_PLATFORM_PATH(BMC_I2C_BUS_PATH);

}  // namespace

int main(int argc, char** argv)
{
    const Daemon_Action action = parse_daemon_options(argc, argv);
    if (action != Daemon_Action::RUN) {
        return run_daemon_option(action, argc, argv);
    }

    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);
    init_service_notify();
    enable_journal_priorities();

    init_NAREL_Sensor();

    if (init_I2C_BMC_Packet_Thread(BMC_Broadcast_Packet_Handler, BMC_Packet_Receive_Error_Handler) != 0) {
        // Without the link every report would be refused: leave, so that the
        // service manager can start the daemon again.
        log_line("[ERROR] %s: BMC I2C link could not be started\n", "main");
        return 1;
    }

    char version[caller_buffer_size];
    memset(version, 0, sizeof version);
    get_Config_Version(version);
    log_line("[INFO] %s: Tovana Ruvo Narel Main Daemon %s - %s %s\n", "main", version, build_date, build_time);

    update_Broadcast_Packet(true);
    // Readiness is never dropped: a manager that is not reading gets it on a
    // later pass.
    bool ready_pending = send_service_notify(ready_message) == Notify_Result::NOT_SENT;

    for (;;) {
        update_Config_Default_IP_Address();
        update_Temperature();
        update_Broadcast_Packet(false);
        if (ready_pending) {
            ready_pending = send_service_notify(ready_message) == Notify_Result::NOT_SENT;
        }
        feed_service_watchdog(get_link_loop_count());
        std::this_thread::sleep_for(main_loop_period);
    }
}
