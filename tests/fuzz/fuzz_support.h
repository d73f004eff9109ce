// Shared by the fuzz harnesses: property checks that stop the run with a
// message, and a private scratch folder that lives as long as the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Stops the process (so that the fuzzer records the input) when a property
// does not hold.
void require(bool holds, std::string_view property);

// A private folder, made on first use and removed at exit.
const std::string &scratch_dir();
// Makes the scratch folder the current folder, for code that opens files by
// relative names.
void enter_scratch_dir();
// Removes everything inside the scratch folder.
void clear_scratch_dir();

void write_file(const std::string &path, std::string_view bytes);

// Splits the input at each occurrence of sep; n pieces need n - 1 separators.
std::vector<std::string_view> split(std::string_view data, char sep);

inline std::string_view as_text(const uint8_t *data, size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}

} // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
