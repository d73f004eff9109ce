// vokbench: the simulated hardware's command.
#include "bitgen.h"
#include "commands.h"

#include <cstdio>
#include <cstring>

namespace {

const char usage[] =
    "usage: vokbench COMMAND [ARG...]\n"
    "  serve --socket PATH [BENCH OPTIONS]          serve one bench until stopped\n"
    "  run [BENCH OPTIONS] -- COMMAND [ARG...]      run COMMAND with VOKBENCH set, print the bench state\n"
    "  ctl [--socket PATH] REQUEST                  talk to a running bench (socket default: $VOKBENCH)\n"
    "      power on|off   chain DEVICES   port BASE:CABLE   usb N:BOARD   usb N unplug|plug\n"
    "      status [--json]   trace BASE [on|off]   counts reset\n"
    "  mkbit --part PART -o FILE [--design NAME] [--date D] [--time T]\n"
    "        [--startup jtag|cclk] [--seed S] [--corrupt WORD]\n"
    "BENCH OPTIONS (also the lines of a bench file, without the dashes):\n"
    "  --chain DEVICES  --power on|off  --port BASE:CABLE  --usb N:BOARD  --config FILE\n"
    "  CABLE: xilinx | altera | none; xilinx-ss | altera-ss with the leads on the slave-serial pins;\n"
    "         +SETTING=0|1 after the name switches a wiring rule of the cable model\n";

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2) {
        const char *cmd = argv[1];
        if (std::strcmp(cmd, "mkbit") == 0) return bench::mkbit_command(argc - 2, argv + 2);
        if (std::strcmp(cmd, "serve") == 0) return bench::serve_command(argc - 1, argv + 1);
        if (std::strcmp(cmd, "run") == 0) return bench::run_command(argc - 1, argv + 1);
        if (std::strcmp(cmd, "ctl") == 0) return bench::ctl_command(argc - 1, argv + 1);
    }
    std::fputs(usage, stderr);
    return 2;
}
