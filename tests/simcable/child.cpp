#include "child.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

pid_t spawn(const std::vector<std::string> &argv, const std::string &cwd, const std::string &out_path)
{
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            _exit(126);
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int decode(int raw)
{
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

} // namespace

Result run(const std::vector<std::string> &argv, const std::string &cwd, double timeout_s)
{
    const std::string out_path = cwd + "/.child_output";
    const pid_t pid = spawn(argv, cwd, out_path);
    Result r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    for (;;) {
        int raw = 0;
        const pid_t done = waitpid(pid, &raw, WNOHANG);
        if (done == pid) {
            r.status = decode(raw);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &raw, 0);
            r.status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.out = read_file(out_path);
    std::remove(out_path.c_str());
    return r;
}

Background::Background(const std::vector<std::string> &argv, const std::string &cwd, const std::string &log)
    : pid_(spawn(argv, cwd, log))
{
}

Background::~Background() { kill_now(); }

void Background::kill_now()
{
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
    }
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "vok_simcable_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool wait_until_fn(bool (*pred)(void *), void *ctx, double timeout_s)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (!pred(ctx)) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred(ctx);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::map<int, std::map<std::string, std::string>> read_state(const std::string &path)
{
    std::map<int, std::map<std::string, std::string>> state;
    std::istringstream lines(read_file(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        int index = -1;
        if (!(words >> word) || word != "device" || !(words >> index))
            continue;
        std::string key, value;
        while (words >> key >> value)
            state[index][key] = value;
    }
    return state;
}

} // namespace sim
