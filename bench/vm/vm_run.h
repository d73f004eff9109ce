// vokbench run --vm: a bench whose USB boards a QEMU guest owns. The guest runs
// Debian's own kernel (TCG), sees each board on its xHCI bus through usbredir,
// mounts the host's tree read-only at the same paths, and runs one command in it
// as an unprivileged user with udevd and the board rule, as on a user's machine.
#pragma once

#include <string>
#include <vector>

#include "bench_config.h"

namespace bench::vm {

struct GuestOptions {
    bool root = false;         // run the command as root
    bool udev_rule = true;     // install the board rule
    std::string socket;        // where the bench serves controllers (empty: a private folder)
};

// Starts the bench, boots the guest, runs the command there, passes its output
// on, prints the bench state; the command's exit status (2 when the guest could
// not be started, 125 when it gave no status).
int run_in_guest(const BenchConfig &config, const std::vector<std::string> &command, const GuestOptions &options);

// Words as one line of sh that runs them unchanged.
std::string shell_command(const std::vector<std::string> &words);

} // namespace bench::vm
