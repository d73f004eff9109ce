#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "support/files.h"

namespace fuzz {

namespace fs = std::filesystem;

void require(bool holds, std::string_view property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property does not hold: %.*s\n", int(property.size()), property.data());
    std::fflush(stderr);
    std::abort();
}

const std::string &scratch_dir()
{
    static const testsupport::TempDir dir("vokfuzz");
    return dir.path();
}

void enter_scratch_dir()
{
    fs::current_path(scratch_dir());
}

void clear_scratch_dir()
{
    for (const auto &entry : fs::directory_iterator(scratch_dir()))
        fs::remove_all(entry.path());
}

void write_file(const std::string &path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::vector<std::string_view> split(std::string_view data, char sep)
{
    std::vector<std::string_view> pieces;
    for (;;) {
        const size_t at = data.find(sep);
        pieces.push_back(data.substr(0, at));
        if (at == std::string_view::npos)
            return pieces;
        data.remove_prefix(at + 1);
    }
}

} // namespace fuzz
