// The options of "vokbench mkbit", as NUL-separated words, run in a scratch
// folder (words holding '/' are left out, so that files stay there). A run that
// succeeds leaves one .bit file that vokusb's reader takes whole, or printed the
// help; a run that fails leaves nothing behind.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitgen.h"
#include "fuzz_support.h"
#include "xilinxbit.h"

namespace {

namespace fs = std::filesystem;

// The data that the reader delivers is the file's tail: the header announces the
// length of what follows it, and nothing comes after.
void check_written(const fs::path &file)
{
    bitfile *bf = bitfile_open(file.c_str());
    fuzz::require(bf != nullptr, "vokusb opens a file that mkbit wrote");
    fuzz::require(bf->idcode != 0, "the part named in a written file is known to vokusb");
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    fuzz::require(bf->length > 0 && bf->length < bytes.size(), "a written file holds data after a header");
    std::string data(bf->length, '\0');
    fuzz::require(bitfile_read(bf, reinterpret_cast<uint8_t *>(data.data()), bf->length) == bf->length,
                  "a written file reads to its end");
    fuzz::require(bytes.compare(bytes.size() - data.size(), data.size(), data) == 0,
                  "the data of a written file ends the file");
    bitfile_close(bf);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::clear_scratch_dir();
    std::vector<std::string> words;
    bool help = false;
    for (auto w : fuzz::split(fuzz::as_text(data, size), '\0')) {
        if (w.find('/') != std::string_view::npos)
            continue;
        words.emplace_back(w);
        // "-h" may open a cluster of short flags ("-hx"); help wins over the rest.
        help |= w.rfind("--help", 0) == 0 || (w.rfind("-h", 0) == 0);
    }
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const int status = bench::mkbit_command(int(words.size()), argv.data());
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(fuzz::scratch_dir()))
        files.push_back(entry.path());
    if (status != 0) {
        fuzz::require(files.empty(), "a failed run leaves no file behind");
        return 0;
    }
    fuzz::require(files.size() == 1 || (help && files.empty()),
                  "a successful run writes one file, unless it printed the help");
    if (!files.empty())
        check_written(files[0]);
    return 0;
}
