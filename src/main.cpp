// nodekeeper: resident management daemon of the node card.
//
// Start-up: find the temperature sensor, start the BMC I2C link, announce
// the daemon and send the node's description. Then, every two seconds:
// refresh the default address and the temperature and send the BMC what is
// due (the description again, a changed temperature, or a keep-alive).
// Nothing stops the daemon but a signal.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "I2C_BMC_packet_thread.h"
#include "config.h"
#include "sensor.h"
#include "log_line.h"
#include "status_report.h"

namespace {

// Build stamp of the banner: "Mmm dd yyyy" and "hh:mm:ss".
const char* const build_date = __DATE__;
const char* const build_time = __TIME__;
// Capacity of the version text.
const unsigned int version_length = 100;

}  // namespace

int main(int /*argc*/, char** /*argv*/)
{
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);

    init_NAREL_Sensor();

    if (init_I2C_BMC_Packet_Thread(BMC_Broadcast_Packet_Handler, BMC_Packet_Receive_Error_Handler) != 0) {
        // Without the link every report would be refused: leave, so that the
        // service manager can start the daemon again.
        log_line("[ERROR] %s: BMC I2C link could not be started\n", "main");
        return 1;
    }

    char version[version_length];
    memset(version, 0, sizeof version);
    get_Config_Version(version);
    log_line("[INFO] %s: Tovana Ruvo Narel Main Daemon %s - %s %s\n", "main", version, build_date, build_time);

    update_Broadcast_Packet(true);

    for (;;) {
        update_Config_Default_IP_Address();
        update_Temperature();
        update_Broadcast_Packet(false);
        sleep(2);
    }
}
