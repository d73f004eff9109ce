// The serve, run and ctl commands of vokbench.
#pragma once

namespace bench {

int serve_command(int argc, char **argv); // argv[0] is "serve"
int run_command(int argc, char **argv);   // argv[0] is "run"
int ctl_command(int argc, char **argv);   // argv[0] is "ctl"

} // namespace bench
