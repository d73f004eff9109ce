#include "vm_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench.h"
#include "redir_device.h"
#include "server.h"
#include "signal_pipe.h"

namespace bench::vm {
namespace {

std::string self_dir() {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    std::string dir(self, size_t(n));
    return dir.erase(dir.rfind('/') + 1);
}

// The guest's files: beside vokbench in ../share/vokusb/ (the build tree and an
// installed tree alike).
std::string share_file(const std::string &name) {
    std::string path = self_dir() + "../share/vokusb/" + name;
    return ::access(path.c_str(), R_OK) == 0 ? path : "";
}

std::string in_path(const std::string &program) {
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string p = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return "";
}

std::string quote(const std::string &word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
    if (!f) throw std::runtime_error("cannot write " + path);
}

// Runs the image builder; the cache folder it prints, or empty.
std::string guest_image() {
    std::string builder = share_file("vokbench-guest-image");
    if (builder.empty()) {
        std::fprintf(stderr, "vokbench run --vm: vokbench-guest-image is not in ../share/vokusb/ beside vokbench\n");
        return "";
    }
    std::fflush(stdout);
    FILE *p = ::popen(quote(builder).c_str(), "r");
    if (!p) return "";
    char buf[4096];
    std::string out;
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    if (::pclose(p) != 0) return "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out.substr(out.rfind('\n') + 1);
}

// Copies what a file gained since the last look to an output stream.
struct Tail {
    std::string path;
    FILE *to;
    off_t pos = 0;
    void follow() {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        char buf[65536];
        ssize_t n;
        while ((n = ::pread(fd, buf, sizeof buf, pos)) > 0) {
            std::fwrite(buf, 1, size_t(n), to);
            pos += n;
        }
        std::fflush(to);
        ::close(fd);
    }
};

// Lets the bus's clock run at least as fast as wall time while the guest waits:
// the guest's kernel and programs time out in real time, and a renumerating chip
// needs its 8051 to run while nothing is transferred. Time owed is given in
// steps of at least STEP_MS, so an idle bench does not spin.
class WallPace {
public:
    static constexpr int STEP_MS = 2;
    explicit WallPace(ezusb::Bus &bus) : bus_(bus), last_(std::chrono::steady_clock::now()) {}
    void keep_up() {
        auto now = std::chrono::steady_clock::now();
        owed_ms_ += std::chrono::duration<double, std::milli>(now - last_).count();
        last_ = now;
        owed_ms_ = std::min(owed_ms_, 1000.0);
        if ((wait_ && !wait_->finished) || owed_ms_ < STEP_MS) return;
        wait_ = std::make_shared<ezusb::Transfer>();
        wait_->kind = ezusb::Transfer::Kind::wait;
        wait_->timeout_ms = uint64_t(owed_ms_);
        wait_->owner = this;
        owed_ms_ -= double(wait_->timeout_ms);
        bus_.submit(wait_);
    }

private:
    ezusb::Bus &bus_;
    std::chrono::steady_clock::time_point last_;
    double owed_ms_ = 0;
    ezusb::TransferPtr wait_;
};

struct BoardPort {
    int number;
    std::string path;
    int listen_fd = -1;
    std::unique_ptr<usbredir::RedirDevice> device;
};

// Removes the run folder and what is in it (the guest may have written there too).
struct RunDir {
    std::string path;
    ~RunDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

void print_tail(const std::string &path, size_t lines) {
    std::ifstream f(path);
    std::vector<std::string> all;
    for (std::string l; std::getline(f, l);) all.push_back(l);
    for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
        std::fprintf(stderr, "  %s\n", all[i].c_str());
}

} // namespace

std::string shell_command(const std::vector<std::string> &words) {
    std::string s = "exec";
    for (auto &w : words) s += " " + quote(w);
    return s + "\n";
}

int run_in_guest(const BenchConfig &config, const std::vector<std::string> &command, const GuestOptions &options) {
    std::string qemu = in_path("qemu-system-x86_64");
    if (qemu.empty()) {
        std::fprintf(stderr, "vokbench run --vm: qemu-system-x86_64 is not installed (apt-get install qemu-system-x86)\n");
        return 2;
    }
    std::string session = share_file("guest-session.sh");
    std::string rule = share_file("60-vokusb-ezusb.rules");
    if (session.empty() || rule.empty()) {
        std::fprintf(stderr, "vokbench run --vm: guest-session.sh or 60-vokusb-ezusb.rules is not in ../share/vokusb/ "
                             "beside vokbench\n");
        return 2;
    }
    std::string image = guest_image();
    if (image.empty()) {
        std::fprintf(stderr, "vokbench run --vm: no guest image\n");
        return 2;
    }

    Bench bench;
    for (auto &u : config.usb) bench.usb().set_outside_host(u.number, true);
    for (auto &note : bench.configure(config)) std::fprintf(stderr, "vokbench: %s\n", note.c_str());

    RunDir dir;
    std::vector<BoardPort> ports;
    int ctl_fd = -1;
    try {
        std::string sock = private_socket_path();
        dir.path = sock.substr(0, sock.rfind('/'));
        ::chmod(dir.path.c_str(), 0755);
        ctl_fd = listen_unix(options.socket.empty() ? sock : options.socket);
        for (auto &u : config.usb) {
            BoardPort p;
            p.number = u.number;
            p.path = dir.path + "/usb" + std::to_string(u.number) + ".sock";
            p.listen_fd = listen_unix(p.path);
            ports.push_back(std::move(p));
        }
        char cwd[4096];
        std::string settings = "VM_ROOT=" + std::string(options.root ? "1" : "0") + "\n" +
                               "VM_RULE=" + quote(options.udev_rule ? rule : "") + "\n" +
                               "VM_CWD=" + quote(::getcwd(cwd, sizeof cwd) ? cwd : "/") + "\n" +
                               "VM_PATH=" + quote(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin") + "\n" +
                               "VM_BOARDS=" + std::to_string(ports.size()) + "\n";
        write_file(dir.path + "/settings", settings);
        write_file(dir.path + "/command", shell_command(command));
        write_file(dir.path + "/out", "");
        write_file(dir.path + "/err", "");
        signal_pipe_open();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vokbench run --vm: %s\n", e.what());
        return 2;
    }
    if (!options.socket.empty()) ::unlink((dir.path + "/socket").c_str());

    std::vector<std::string> args = {qemu, "-accel", "tcg", "-M", "q35", "-m", "512M", "-smp", "1", "-nodefaults",
                                     "-no-user-config", "-display", "none", "-no-reboot"};
    // qboot starts faster than SeaBIOS and leaves the USB devices to the kernel.
    if (::access("/usr/share/qemu/qboot.rom", R_OK) == 0) args.insert(args.end(), {"-bios", "/usr/share/qemu/qboot.rom"});
    // A guest for one command: no W+X page check and no speculation mitigations,
    // which cost seconds of boot under TCG.
    args.insert(args.end(),
                {"-serial", "file:" + dir.path + "/console", "-kernel", image + "/vmlinux", "-initrd",
                 image + "/initrd.cpio", "-append",
                 "console=ttyS0 quiet loglevel=3 panic=-1 sysrq_always_enabled mitigations=off nowatchdog rodata=off "
                 "vokbench.session=" + session,
                 "-device", "qemu-xhci,id=xhci,p2=8,p3=8", "-virtfs",
                 "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap", "-virtfs",
                 "local,path=" + dir.path + ",mount_tag=vokrun,security_model=none"});
    for (auto &p : ports) {
        std::string id = "usb" + std::to_string(p.number);
        args.insert(args.end(), {"-chardev", "socket,id=" + id + ",path=" + p.path, "-device",
                                 "usb-redir,chardev=" + id + ",bus=xhci.0"});
    }

    signal_pipe_catch(SIGCHLD);
    signal_pipe_catch(SIGTERM);
    signal_pipe_catch(SIGHUP);
    signal_pipe_catch(SIGINT);
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = ::fork();
    if (child < 0) {
        std::fprintf(stderr, "vokbench run --vm: fork: %s\n", std::strerror(errno));
        return 2;
    }
    if (child == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGCHLD, SIG_DFL);
        int null = ::open("/dev/null", O_RDONLY);
        int log = ::open((dir.path + "/qemu.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(null, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }

    // One fd wakes the server's loop for everything of the guest's side.
    int ep = ::epoll_create1(EPOLL_CLOEXEC);
    auto watch = [&](int fd, uint32_t events) {
        epoll_event e{};
        e.events = events;
        e.data.fd = fd;
        if (::epoll_ctl(ep, EPOLL_CTL_MOD, fd, &e) < 0) ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &e);
    };
    watch(signal_pipe_fd(), EPOLLIN);
    for (auto &p : ports) watch(p.listen_fd, EPOLLIN);
    // The clock keeps pace in steps of WallPace::STEP_MS: an IN that the guest waits on
    // gets its answer within a step of the firmware having it.
    int pace_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    itimerspec period{};
    period.it_interval.tv_nsec = period.it_value.tv_nsec = long(WallPace::STEP_MS) * 1000000;
    ::timerfd_settime(pace_timer, 0, &period, nullptr);
    watch(pace_timer, EPOLLIN);

    Tail out{dir.path + "/out", stdout}, err{dir.path + "/err", stderr};
    WallPace pace(bench.usb());
    int qemu_status = 0;
    bool done = false;
    Server server(bench, ctl_fd);
    server.run(
        [&] {
            char sig[64];
            ssize_t n;
            while ((n = ::read(signal_pipe_fd(), sig, sizeof sig)) > 0)
                for (ssize_t i = 0; i < n; ++i)
                    if (sig[i] != SIGCHLD) ::kill(child, SIGTERM);
            for (auto &p : ports) {
                if (!p.device) {
                    int fd = ::accept4(p.listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                    if (fd >= 0) p.device = std::make_unique<usbredir::RedirDevice>(bench.usb(), p.number, fd);
                }
                if (!p.device) continue;
                p.device->pump();
                if (p.device->gone()) {
                    ::epoll_ctl(ep, EPOLL_CTL_DEL, p.device->fd(), nullptr);
                    p.device.reset();
                    continue;
                }
                watch(p.device->fd(), EPOLLIN | (p.device->wants_write() ? uint32_t(EPOLLOUT) : 0u));
            }
            uint64_t expirations;
            while (::read(pace_timer, &expirations, sizeof expirations) > 0) {
            }
            pace.keep_up();
            out.follow();
            err.follow();
            done = done || ::waitpid(child, &qemu_status, WNOHANG) == child;
            return done;
        },
        ep);
    ::close(pace_timer);
    for (auto &p : ports) {
        p.device.reset();
        ::close(p.listen_fd);
    }
    ::close(ep);
    ::close(ctl_fd);
    if (!options.socket.empty()) ::unlink(options.socket.c_str());
    out.follow();
    err.follow();

    int status = 125;
    std::ifstream sf(dir.path + "/status");
    if (!(sf >> status)) {
        status = 125;
        std::fprintf(stderr, "vokbench run --vm: the guest stopped without the command's exit status%s\n",
                     WIFEXITED(qemu_status) && WEXITSTATUS(qemu_status) != 0 ? " (QEMU failed)" : "");
        print_tail(dir.path + "/qemu.log", 10);
        print_tail(dir.path + "/console", 20);
    }
    std::fflush(stdout);
    std::fputs(bench.status_text().c_str(), stdout);
    std::fflush(stdout);
    return status;
}

} // namespace bench::vm
