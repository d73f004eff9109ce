#include "signal_pipe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace bench {
namespace {

int pipe_fds[2] = {-1, -1};

void on_signal(int sig) {
    int saved = errno;
    char b = static_cast<char>(sig);
    [[maybe_unused]] ssize_t n = ::write(pipe_fds[1], &b, 1);
    errno = saved;
}

} // namespace

void signal_pipe_open() {
    if (pipe_fds[0] >= 0) return;
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) < 0) throw std::runtime_error("pipe failed");
}

void signal_pipe_catch(int sig) {
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
}

int signal_pipe_fd() { return pipe_fds[0]; }

} // namespace bench
