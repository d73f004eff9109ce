// Child processes for the tests: every run has a deadline, and every child leads
// its own process group, which is killed as a whole, so no test can hang or leave
// processes behind.
#pragma once

#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace testsupport {

struct Result {
    int status = -1; // exit status, 128 + signal, or -1 when the deadline passed
    bool timed_out = false;
    std::string out; // stdout and stderr together
};

// Variables set for the child on top of the inherited environment.
using Env = std::vector<std::pair<std::string, std::string>>;

// Runs argv (argv[0] looked up in PATH when it has no slash) in cwd (the current
// folder when empty) with stdin from /dev/null; kills its group after timeout_s.
Result run(const std::vector<std::string> &argv, const std::string &cwd, double timeout_s = 30,
           const Env &env = {});

// A process left running, its output going to the file log (created afresh);
// killed with its group when destroyed.
class Background {
public:
    Background(const std::vector<std::string> &argv, const std::string &cwd, const std::string &log,
               const Env &env = {});
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    std::string output() const; // the log so far
    bool running();
    pid_t pid() const { return pid_; } // -1 once it has ended and been collected
    // Waits up to timeout_s for the end; kills the group and returns false after that.
    bool wait(double timeout_s);
    // Sends sig to the group and waits up to timeout_s; SIGKILL after that. Returns status().
    int stop(int sig = SIGTERM, double timeout_s = 5);
    // Exit status or 128 + signal once ended; -1 while running or after a kill by wait().
    int status() const { return status_; }

private:
    void reap(int raw);

    pid_t pid_ = -1;
    std::string log_;
    int status_ = -1;
};

} // namespace testsupport
