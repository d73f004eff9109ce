// Files and private folders for the tests.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace testsupport {

// A fresh private folder under the temp folder (TMPDIR), removed with its contents
// when destroyed.
class TempDir {
public:
    explicit TempDir(const std::string &prefix = "voktest");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes a fresh TempDir the current folder for its lifetime (e.g. a fixture
// member), and goes back to the previous folder at the end.
class InTempDir {
public:
    explicit InTempDir(const std::string &prefix = "voktest");
    ~InTempDir();
    InTempDir(const InTempDir &) = delete;
    InTempDir &operator=(const InTempDir &) = delete;

    const TempDir &dir() const { return dir_; }

private:
    TempDir dir_;
    std::filesystem::path old_;
};

// The whole file; empty when it cannot be read.
std::string read_file(const std::string &path);

// Writes beside the file and renames, so that a reader running at the same time
// never sees half a file. Throws std::runtime_error when it cannot.
void write_file(const std::string &path, const std::string &bytes);

// Polls pred every poll_ms until it holds or timeout_s passes; returns its last answer.
bool wait_until(const std::function<bool()> &pred, double timeout_s, int poll_ms = 10);

// Waits until path exists; false after timeout_s.
bool wait_for_file(const std::string &path, double timeout_s);

} // namespace testsupport
