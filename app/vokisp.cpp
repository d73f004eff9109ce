// The vokusb program: the banner or the usage text, the settings, the driver
// loaded and its cable opened, the run, and the exit status.
#include "vokisp.h"

#include <cstdint>

#include "console.h"
#include "driver_binding.h"
#include "interrupt.h"
#include "loader.h"
#include "options.h"
#include "platform.h"
#include "run.h"
#include "settings.h"

namespace {

// Opens the cable and prints the probe block; returns the error flags of the open.
uint32_t open_cable()
{
    char probe_name[NAME_SIZE] = "";
    const int32_t opened = driver.sh_init(static_cast<int32_t>(settings.port_addr), settings.baudrate, probe_name);
    probe_name[NAME_SIZE - 1] = '\0';
    if (opened == VOK_INIT_READY) {
        say("-------------------- Probe / Driver Information ---------------------\n");
        say("Name    '%s'\n", probe_name);
        if (driver.jtag_version != nullptr) {
            const uint32_t v = driver.jtag_version();
            say("Version %2X.%04X\n", VOK_VERSION_MAJOR(v), VOK_VERSION_MINOR(v));
        } else {
            say(" Version : Unknown\n");
        }
    } else if (opened == VOK_INIT_NO_PROBE) {
        say("NO Probe\n");
        return ERR_PROBE;
    } else if (opened == VOK_INIT_NO_TARGET) {
        say("NO Target\n");
        return ERR_TARGET;
    }
    return 0;
}

} // namespace

int vokusb_main(int argc, char **argv)
{
    say("\nVokmar Ver.1.14\n");
    say("Spartan-II configuration over JTAG or slave serial\n");
    if (argc < 2) {
        say("%s", usage_text);
        return platform_exit_status(1);
    }
    if (is_help_word(argv[1])) {
        say("%s", usage_text);
        return 0;
    }
    set_defaults();
    read_settings(argc, argv);
    if (option_name_error)
        return platform_exit_status(1);

    uint32_t err = 0;
    if (!dll_setup(settings.dll_name_typed, settings.config_mode))
        err |= ERR_PROBE | ERR_DRIVER;
    if (err == 0)
        err |= open_cable();
    say("++++++++++++++++++++++ File / Mode Information ++++++++++++++++++++++\n");

    err = run_configuration(err);

    if (!(err & ERR_DRIVER))
        driver.sh_end();
    dll_end();
    // Ended by a signal: the status a shell gives a process the signal killed.
    if (interrupt_caught() != 0)
        return 128 + interrupt_caught();
    return platform_exit_status(err);
}
