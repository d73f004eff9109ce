// The serve, run and ctl commands of vokbench, each registered on the application
// with its options and help; the bench options that serve and run share.
#pragma once

#include <CLI/CLI.hpp>

#include "bench_config.h"

namespace bench {

// --chain, --power, --port, --usb and --config FILE, applied to config in the order
// given (a later --port for the same base replaces the earlier one). config must
// outlive the parse.
void add_bench_options(CLI::App &command, BenchConfig &config);

CLI::App *add_serve_command(CLI::App &app); // serve [--socket PATH] [BENCH OPTIONS]
CLI::App *add_run_command(CLI::App &app);   // run [BENCH OPTIONS] [--] COMMAND [ARG...]
CLI::App *add_ctl_command(CLI::App &app);   // ctl [--socket PATH] REQUEST

} // namespace bench
