// Child processes for the end-to-end tests: every run has a deadline and every
// child is killed with its whole process group, so no test can hang.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace e2e {

struct Result {
    int status = -1; // exit status, 128 + signal, or -1 when it timed out
    bool timed_out = false;
    std::string out; // stdout and stderr together
};

using Env = std::vector<std::pair<std::string, std::string>>;

// Runs argv in cwd with extra environment; kills it after timeout_s seconds.
Result run(const std::vector<std::string> &argv, const std::string &cwd, double timeout_s = 30,
           const Env &env = {});

// A background process whose output goes to a file; killed when destroyed.
class Background {
public:
    Background(const std::vector<std::string> &argv, const std::string &cwd, const std::string &log,
               const Env &env = {});
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;
    std::string output() const;
    bool running();
    pid_t pid() const { return pid_; }
    // Sends sig to the group and waits up to timeout_s; SIGKILL after that.
    int stop(int sig = 15, double timeout_s = 5);

private:
    pid_t pid_ = -1;
    std::string log_;
    int status_ = -1;
};

// A fresh private folder, removed with its contents when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string &path);
bool wait_for_file(const std::string &path, double timeout_s);

} // namespace e2e
