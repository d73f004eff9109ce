// Child processes and private folders for the end-to-end tests of the simulated cable.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace sim {

struct Result {
    int status = -1; // exit status; 128 + signal; -1 when the deadline passed
    std::string out; // stdout and stderr together
};

// Runs argv in cwd; kills it after timeout_s seconds.
Result run(const std::vector<std::string> &argv, const std::string &cwd, double timeout_s = 30);

// A process left running in the background, its output going to a file; killed when destroyed.
class Background {
public:
    Background(const std::vector<std::string> &argv, const std::string &cwd, const std::string &log);
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;
    void kill_now();

private:
    pid_t pid_ = -1;
};

// A fresh folder, removed with its contents when destroyed.
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
void write_file(const std::string &path, const std::string &text);
// Polls until pred() holds or timeout_s passes; returns pred()'s last answer.
template <typename Pred> bool wait_until(Pred pred, double timeout_s);
bool wait_until_fn(bool (*pred)(void *), void *ctx, double timeout_s);

template <typename Pred> bool wait_until(Pred pred, double timeout_s)
{
    return wait_until_fn([](void *c) { return (*static_cast<Pred *>(c))(); }, &pred, timeout_s);
}

// "device N key value key value ..." lines of target_state.txt, by device index.
std::map<int, std::map<std::string, std::string>> read_state(const std::string &path);

} // namespace sim
