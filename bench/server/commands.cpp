#include "commands.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench.h"
#include "bench_socket.h"
#include "server.h"
#include "signal_pipe.h"
#include "vm_run.h"

namespace bench {
#ifndef VOKBENCH_VM
int vm::run_in_guest(const BenchConfig &, const std::vector<std::string> &, const GuestOptions &) {
    std::fprintf(stderr, "vokbench run --vm: this vokbench was built without libusbredirparser\n");
    return 2;
}
#endif
namespace {

// Empties the pipe; true when one of the signals was TERM or HUP.
bool drain_signal_pipe() {
    char buf[64];
    bool term = false;
    ssize_t n;
    while ((n = ::read(signal_pipe_fd(), buf, sizeof buf)) > 0)
        for (ssize_t i = 0; i < n; ++i) term |= buf[i] == SIGTERM || buf[i] == SIGHUP;
    return term;
}

// Removes the socket file, and its private folder when it made one.
struct SocketFile {
    std::string path;
    bool private_dir = false;
    ~SocketFile() {
        if (path.empty()) return;
        ::unlink(path.c_str());
        if (private_dir) ::rmdir(path.substr(0, path.rfind('/')).c_str());
    }
};

const char BENCH_OPTIONS_HELP[] =
    "Bench options may repeat and apply in their order; a bench file holds the same options, one a\n"
    "line without the dashes ('#' starts a comment).\n"
    "CABLE: xilinx | altera | none, or xilinx-ss | altera-ss with the leads on the slave-serial pins;\n"
    "       +SETTING=0|1 after the name switches a wiring rule of the cable model.";

// Sets the bench up from the options; the notes are what it could not provide.
void configure(Bench &bench, const BenchConfig &config) {
    for (auto &note : bench.configure(config)) std::fprintf(stderr, "vokbench: %s\n", note.c_str());
}

int serve(const BenchConfig &config, std::string path) {
    try {
        Bench bench;
        configure(bench, config);
        SocketFile file;
        if (path.empty()) {
            path = private_socket_path();
            file.private_dir = true;
        }
        int fd = listen_unix(path);
        file.path = path;
        signal_pipe_open();
        signal_pipe_catch(SIGINT);
        signal_pipe_catch(SIGTERM);
        std::signal(SIGPIPE, SIG_IGN);
        std::printf("VOKBENCH=%s\n", path.c_str());
        std::fflush(stdout);
        Server server(bench, fd);
        server.run(
            [] {
                char b;
                return ::read(signal_pipe_fd(), &b, 1) == 1; // INT or TERM arrived
            },
            signal_pipe_fd());
        ::close(fd);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vokbench serve: %s\n", e.what());
        return 2;
    }
}

// The ppdev shim, found as vokusb finds its drivers: beside the executable, then
// in ../lib/vokusb/; empty when it is in neither place.
std::string find_ppdev_shim() {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    std::string dir(self, size_t(n));
    dir.erase(dir.rfind('/') + 1);
    for (const char *sub : {"", "../lib/vokusb/"}) {
        std::string path = dir + sub + "vokbench_ppdev.so";
        if (::access(path.c_str(), R_OK) == 0) return path;
    }
    return "";
}

int run(const BenchConfig &config, std::vector<std::string> command, bool ppdev) {
    std::string preload;
    if (ppdev) {
        preload = find_ppdev_shim();
        if (preload.empty()) {
            std::fprintf(stderr, "vokbench run: --ppdev: vokbench_ppdev.so is neither beside vokbench nor in "
                                 "../lib/vokusb/\n");
            return 2;
        }
        // Libraries the caller preloads (a sanitizer runtime, say) stay first.
        const char *before = std::getenv("LD_PRELOAD");
        if (before && *before) preload = std::string(before) + ":" + preload;
    }
    Bench bench;
    configure(bench, config);
    SocketFile file;
    int fd;
    try {
        file.private_dir = true;
        std::string path = private_socket_path();
        file.path = path;
        fd = listen_unix(path);
        signal_pipe_open();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vokbench run: %s\n", e.what());
        return 2;
    }
    signal_pipe_catch(SIGCHLD);
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = ::fork();
    if (child < 0) {
        std::fprintf(stderr, "vokbench run: fork: %s\n", std::strerror(errno));
        return 2;
    }
    if (child == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGCHLD, SIG_DFL);
        ::setenv(benchwire::ENV_SOCKET, file.path.c_str(), 1);
        if (!preload.empty()) ::setenv("LD_PRELOAD", preload.c_str(), 1);
        std::vector<char *> args;
        for (auto &w : command) args.push_back(w.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::fprintf(stderr, "vokbench run: cannot run %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    }
    // While the command runs the bench ends with it: INT from the terminal reaches
    // the command itself, TERM and HUP sent to the bench are passed on to it.
    ::signal(SIGINT, SIG_IGN);
    signal_pipe_catch(SIGTERM);
    signal_pipe_catch(SIGHUP);
    int status = 0;
    bool done = false;
    Server server(bench, fd);
    server.run(
        [&] {
            if (done) return true;
            if (drain_signal_pipe()) ::kill(child, SIGTERM);
            pid_t r = ::waitpid(child, &status, WNOHANG);
            done = r == child;
            return done;
        },
        signal_pipe_fd());
    // The command's connections may still hold records it sent before it ended.
    server.drain(2000);
    ::close(fd);
    std::fflush(stdout);
    std::fputs(bench.status_text().c_str(), stdout);
    std::fflush(stdout);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

int ctl(const std::string &path, const std::vector<std::string> &words) {
    std::string req;
    for (auto &w : words) req += (req.empty() ? "" : " ") + w;
    if (req.find('\n') != std::string::npos) {
        std::fprintf(stderr, "vokbench ctl: a request is one line\n");
        return 2;
    }
    int fd = benchwire::connect_bench(path.c_str());
    if (fd < 0 && errno == ENAMETOOLONG) {
        std::fprintf(stderr, "vokbench ctl: socket path too long\n");
        return 2;
    }
    if (fd < 0) {
        std::fprintf(stderr, "vokbench ctl: cannot reach a bench at %s: %s\n", path.c_str(), std::strerror(errno));
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::string answer = benchwire::ask_ctl(fd, req);
    ::close(fd);
    if (answer.empty()) {
        std::fprintf(stderr, "vokbench ctl: no answer from %s\n", path.c_str());
        return 2;
    }
    bool refused = answer.rfind("error: ", 0) == 0 || answer.find(": not available") != std::string::npos;
    std::fputs(answer.c_str(), refused ? stderr : stdout);
    return refused ? 1 : 0;
}

} // namespace

void add_bench_options(CLI::App &command, BenchConfig &config) {
    auto add = [&](const std::string &name, const char *value, const char *help) {
        command
            .add_option_function<std::string>(
                "--" + name,
                [&config, name](const std::string &v) {
                    try {
                        if (name == "config")
                            read_bench_file(config, v);
                        else
                            apply_bench_option(config, name, v);
                    } catch (const std::exception &e) {
                        throw CLI::ValidationError("--" + name, e.what());
                    }
                },
                help)
            ->type_name(value)
            ->trigger_on_parse()
            ->group("Bench options");
    };
    add("chain", "DEVICES",
        "devices from the TDO end to the TDI end, e.g. 2s100,18v02: 2s15..2s200 (PART:vN sets the version), "
        "18v256 18v512 18v01 18v02 18v04, dev:IDCODE:IRLEN");
    add("power", "on|off", "the target supply (default on)");
    add("port", "BASE:CABLE", "a parallel port at a hex base address with a cable, e.g. 0x378:xilinx");
    add("usb", "N:BOARD[:DEVICES]",
        "an EZ-USB board: an2135sc-jtag, an2135sc-ss, spi, qrt or ulink; with DEVICES (as for --chain) it drives a chain "
        "of its own, else the bench's chain; BOARD+SETTING=0|1 sets a point of the chip's behaviour (out_armed_at_reset, "
        "alias_1b40, int2_repulse, a0_cpucs_only_reset_bit)");
    add("config", "FILE", "read bench options from a file");
    command.footer(BENCH_OPTIONS_HELP);
}

CLI::App *add_serve_command(CLI::App &app) {
    auto *cmd = app.add_subcommand("serve", "serve one bench until stopped (INT or TERM)");
    auto config = std::make_shared<BenchConfig>();
    auto socket = std::make_shared<std::string>();
    cmd->add_option("--socket", *socket,
                    "socket to serve on (default: a new private folder, printed as VOKBENCH=PATH)")
        ->type_name("PATH");
    add_bench_options(*cmd, *config);
    cmd->callback([=] { throw CLI::RuntimeError(serve(*config, *socket)); });
    return cmd;
}

CLI::App *add_run_command(CLI::App &app) {
    auto *cmd = app.add_subcommand(
        "run", "start a bench, run COMMAND with VOKBENCH set, print the bench state, exit with COMMAND's status");
    auto config = std::make_shared<BenchConfig>();
    auto command = std::make_shared<std::vector<std::string>>();
    auto ppdev = std::make_shared<bool>(false);
    add_bench_options(*cmd, *config);
    cmd->add_flag("--ppdev", *ppdev,
                  "preload a shim into COMMAND that serves /dev/parportN from the bench's ports (N in their order)");
    auto vm = std::make_shared<bool>(false);
    auto guest = std::make_shared<vm::GuestOptions>();
    cmd->add_flag("--vm", *vm,
                  "run COMMAND in a QEMU guest that owns every --usb board (libusb, udevd; VOKBENCH unset)");
    cmd->add_flag("--vm-root", guest->root, "with --vm: run COMMAND as root, not as an unprivileged user");
    cmd->add_flag_function(
        "--vm-no-rule", [guest](int64_t) { guest->udev_rule = false; }, "with --vm: without the udev rule");
    cmd->add_option("--socket", guest->socket, "with --vm: serve the bench to controllers at PATH")
        ->type_name("PATH");
    // After "--" every word is the command's, its options included.
    cmd->add_option("COMMAND", *command, "the command and its arguments, after --")->required();
    cmd->callback([config, command, ppdev, vm, guest] {
        if (*vm) throw CLI::RuntimeError(vm::run_in_guest(*config, *command, *guest));
        throw CLI::RuntimeError(run(*config, *command, *ppdev));
    });
    return cmd;
}

CLI::App *add_ctl_command(CLI::App &app) {
    auto *cmd = app.add_subcommand("ctl", "send one REQUEST to a running bench and print its answer");
    auto socket = std::make_shared<std::string>();
    cmd->add_option("--socket", *socket, "the bench's socket")->type_name("PATH")->envname(benchwire::ENV_SOCKET);
    cmd->prefix_command();
    cmd->footer("REQUEST: power on|off, chain DEVICES, port BASE:CABLE, usb N:BOARD[:DEVICES], usb N unplug|plug,\n"
                "         program N, status [--json], trace BASE [on|off], counts reset");
    cmd->callback([cmd, socket] {
        if (socket->empty()) throw CLI::RequiredError("no socket (--socket or VOKBENCH)", CLI::ExitCodes::RequiredError);
        std::vector<std::string> request = cmd->remaining();
        if (request.empty()) throw CLI::RequiredError("no request", CLI::ExitCodes::RequiredError);
        throw CLI::RuntimeError(ctl(*socket, request));
    });
    return cmd;
}

} // namespace bench
