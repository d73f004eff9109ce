#include "process.h"

#include "files.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_in(double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Everything the child needs, built before the fork: after it only
// async-signal-safe calls are made, since the test may run other threads.
struct Launch {
    std::vector<std::string> env_strings;
    std::vector<char *> args, envp;

    Launch(const std::vector<std::string> &argv, const Env &env) {
        if (argv.empty()) throw std::invalid_argument("no command to run");
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (char **e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto &[k, v] : env) replaced = replaced || k == name;
            if (!replaced) env_strings.push_back(entry);
        }
        for (const auto &[k, v] : env) env_strings.push_back(k + "=" + v);
        for (auto &s : env_strings) envp.push_back(s.data());
        envp.push_back(nullptr);
    }
};

// Starts the child as the leader of a new process group, stdout and stderr to out_fd.
pid_t spawn(Launch &l, const std::string &cwd, int out_fd) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(out_fd, 1);
        ::dup2(out_fd, 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::execvpe(l.args[0], l.args.data(), l.envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid); // also here, so that the group exists before the first kill
    return pid;
}

int decode(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

pid_t wait_pid(pid_t pid, int *raw, int flags) {
    pid_t w;
    do
        w = ::waitpid(pid, raw, flags);
    while (w < 0 && errno == EINTR);
    return w;
}

} // namespace

Result run(const std::vector<std::string> &argv, const std::string &cwd, double timeout_s, const Env &env) {
    Launch launch(argv, env);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid_t pid;
    try {
        pid = spawn(launch, cwd, fds[1]);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);

    Result r;
    const auto deadline = deadline_in(timeout_s);
    char buf[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            r.timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left));
        if (rc <= 0) continue; // interrupted, or the deadline: checked above
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        r.out.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);

    // The output closed: the child ends now, or is killed at the deadline.
    int raw = 0;
    while (!r.timed_out && wait_pid(pid, &raw, WNOHANG) != pid) {
        if (Clock::now() > deadline)
            r.timed_out = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (r.timed_out) {
        ::kill(-pid, SIGKILL);
        wait_pid(pid, &raw, 0);
    }
    ::kill(-pid, SIGKILL); // anything the command left behind in its group
    r.status = r.timed_out ? -1 : decode(raw);
    return r;
}

Background::Background(const std::vector<std::string> &argv, const std::string &cwd, const std::string &log,
                       const Env &env)
    : log_(log) {
    Launch launch(argv, env);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write " + log + ": " + std::strerror(errno));
    try {
        pid_ = spawn(launch, cwd, fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

Background::~Background() { stop(SIGKILL); }

std::string Background::output() const { return read_file(log_); }

void Background::reap(int raw) {
    status_ = decode(raw);
    ::kill(-pid_, SIGKILL); // anything it left behind in its group
    pid_ = -1;
}

bool Background::running() {
    if (pid_ < 0) return false;
    int raw = 0;
    if (wait_pid(pid_, &raw, WNOHANG) != pid_) return true;
    reap(raw);
    return false;
}

namespace {

// Polls until the process has ended; false when timeout_s passes first.
bool ends_within(Background &p, double timeout_s) {
    const auto deadline = deadline_in(timeout_s);
    while (p.running()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Kills the whole group and collects its leader; returns the raw wait status.
int kill_group(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int raw = 0;
    wait_pid(pid, &raw, 0);
    return raw;
}

} // namespace

bool Background::wait(double timeout_s) {
    if (ends_within(*this, timeout_s)) return true;
    kill_group(pid_);
    pid_ = -1;
    status_ = -1;
    return false;
}

int Background::stop(int sig, double timeout_s) {
    if (pid_ < 0) return status_;
    ::kill(-pid_, sig);
    if (!ends_within(*this, timeout_s)) reap(kill_group(pid_));
    return status_;
}

} // namespace testsupport
