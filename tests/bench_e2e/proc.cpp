#include "proc.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void exec_child(const std::vector<std::string> &argv, const std::string &cwd, const Env &env,
                             int out_fd) {
    ::setpgid(0, 0);
    ::dup2(out_fd, 1);
    ::dup2(out_fd, 2);
    int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (auto &[k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    std::vector<char *> args;
    for (auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

int decode(int st) {
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return -1;
}

} // namespace

Result run(const std::vector<std::string> &argv, const std::string &cwd, double timeout_s, const Env &env) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_t pid = ::fork();
    if (pid == 0) exec_child(argv, cwd, env, fds[1]);
    ::setpgid(pid, pid);
    ::close(fds[1]);
    Result r;
    auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
    char buf[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            r.timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        int rc = ::poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) continue;
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        r.out.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (r.timed_out) ::kill(-pid, SIGKILL);
    int st = 0;
    // The output closed: the child ends now, or is killed after the deadline.
    for (;;) {
        pid_t w = ::waitpid(pid, &st, r.timed_out ? 0 : WNOHANG);
        if (w == pid) break;
        if (Clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            r.timed_out = true;
            ::waitpid(pid, &st, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(-pid, SIGKILL); // anything the command left behind in its group
    r.status = r.timed_out ? -1 : decode(st);
    return r;
}

Background::Background(const std::vector<std::string> &argv, const std::string &cwd, const std::string &log,
                       const Env &env)
    : log_(log) {
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + log);
    pid_ = ::fork();
    if (pid_ == 0) exec_child(argv, cwd, env, fd);
    ::setpgid(pid_, pid_);
    ::close(fd);
}

Background::~Background() { stop(SIGKILL, 5); }

std::string Background::output() const { return read_file(log_); }

bool Background::running() {
    if (pid_ < 0) return false;
    int st;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = decode(st);
        ::kill(-pid_, SIGKILL);
        pid_ = -1;
        return false;
    }
    return true;
}

int Background::stop(int sig, double timeout_s) {
    if (pid_ < 0) return status_;
    ::kill(-pid_, sig);
    auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
    while (running()) {
        if (Clock::now() > deadline) {
            ::kill(-pid_, SIGKILL);
            int st;
            ::waitpid(pid_, &st, 0);
            status_ = decode(st);
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

TempDir::TempDir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vokbench-e2e.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool wait_for_file(const std::string &path, double timeout_s) {
    auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
    struct stat st;
    while (::stat(path.c_str(), &st) != 0) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace e2e
