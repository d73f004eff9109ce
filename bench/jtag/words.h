// Small text helpers for reading bench options and device words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bench {

std::string lower(std::string_view s);
std::string trim(std::string_view s);

// A whole string as an unsigned number, decimal or (with hex) hexadecimal with an
// optional 0x; false for anything else or a value above max.
bool parse_uint(std::string_view s, bool hex, uint64_t max, uint64_t &out);

} // namespace bench
