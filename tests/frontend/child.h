// Runs the built vokusb as a child process in a folder, stdout to a file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "helpers.h"

namespace vt {

class Child {
public:
    // Starts program with these words, working folder dir, output in dir/out.txt.
    Child(const std::string &program, const std::vector<std::string> &words, const std::string &dir)
        : out_path_(dir + "/out.txt")
    {
        std::vector<std::string> all{program};
        all.insert(all.end(), words.begin(), words.end());
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(dir.c_str()) != 0)
                _exit(127);
            const int fd = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0)
                _exit(127);
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
            std::vector<char *> argv;
            for (auto &w : all)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Child() { kill(); }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // Waits for the end; false when the child was still running after the timeout.
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0) {
            int st = 0;
            const pid_t r = waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
                pid_ = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() > end) {
                kill();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Polls until cond() holds; false after the timeout.
    static bool until(const std::function<bool()> &cond,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15))
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int st = 0;
            waitpid(pid_, &st, 0);
            pid_ = -1;
        }
    }

    std::string output() const { return read_file(out_path_); }
    int status() const { return status_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_path_;
};

} // namespace vt
