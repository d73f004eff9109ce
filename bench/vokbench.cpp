// vokbench: the simulated hardware's command. Each command registers itself on the
// application with its options, help and action.
#include "bitgen.h"
#include "command_line.h"
#include "commands.h"
#include "run8051.h"

int main(int argc, char **argv) {
    CLI::App app{"The simulated hardware of vokusb: a target supply, a JTAG chain and parallel ports "
                 "with cables, served over a Unix socket.",
                 "vokbench"};
    app.require_subcommand(1);
    bench::add_serve_command(app);
    bench::add_run_command(app);
    bench::add_ctl_command(app);
    bench::add_mkbit_command(app);
    bench::add_8051_command(app);
    return bench::run_command_line(app, std::vector<std::string>(argv + 1, argv + argc));
}
