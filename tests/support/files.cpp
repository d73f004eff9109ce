#include "files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string &prefix) {
    std::string templ = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("cannot make a folder " + templ + ": " + std::strerror(errno));
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

InTempDir::InTempDir(const std::string &prefix) : dir_(prefix), old_(fs::current_path()) {
    fs::current_path(dir_.path());
}

InTempDir::~InTempDir() {
    std::error_code ec;
    fs::current_path(old_, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        if (!out) {
            std::remove(part.c_str());
            throw std::runtime_error("cannot write " + part);
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        const int err = errno;
        std::remove(part.c_str());
        throw std::runtime_error("cannot rename " + part + " to " + path + ": " + std::strerror(err));
    }
}

bool wait_until(const std::function<bool()> &pred, double timeout_s, int poll_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                                  std::chrono::duration<double>(timeout_s));
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
    }
    return true;
}

bool wait_for_file(const std::string &path, double timeout_s) {
    return wait_until(
        [&] {
            struct stat st;
            return ::stat(path.c_str(), &st) == 0;
        },
        timeout_s);
}

} // namespace testsupport
