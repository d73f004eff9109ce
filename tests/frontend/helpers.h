// Shared helpers of the front-end tests: .bit files, counting in output.
#pragma once

#include <cstdint>
#include <string>

#include "support/files.h"

namespace vt {

// Folders and files come from the shared test support.
using testsupport::InTempDir;
using testsupport::read_file;
using testsupport::TempDir;
using testsupport::write_file;

inline size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++n;
    return n;
}

inline std::string preamble()
{
    const unsigned char p[13] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    return std::string(reinterpret_cast<const char *>(p), sizeof p);
}

// A keyed text field: key, 16-bit big-endian length, bytes (NUL included when asked).
inline std::string text_field(char key, const std::string &text, bool with_nul = true)
{
    std::string body = text;
    if (with_nul)
        body.push_back('\0');
    std::string out(1, key);
    out.push_back(static_cast<char>((body.size() >> 8) & 0xFF));
    out.push_back(static_cast<char>(body.size() & 0xFF));
    return out + body;
}

inline std::string length_field(uint32_t n)
{
    std::string out(1, 'e');
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((n >> shift) & 0xFF));
    return out;
}

// Configuration data with a recognisable pattern.
inline std::string data_bytes(size_t n, unsigned seed = 1)
{
    std::string d(n, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        d[i] = static_cast<char>(x >> 16);
    }
    return d;
}

struct BitSpec {
    std::string net = "demo.ncd";
    std::string part = "2s100tq144";
    std::string date = "2026/12/08";
    std::string time = "01:02:03";
    uint32_t length = 20000;
    std::string data;     // default: `length` pattern bytes
    bool data_set = false;
};

inline std::string bit_file(const BitSpec &s)
{
    const std::string data = s.data_set ? s.data : data_bytes(s.length);
    return preamble() + text_field('a', s.net) + text_field('b', s.part) + text_field('c', s.date) +
           text_field('d', s.time) + length_field(s.length) + data;
}

// The checksum the test driver logs for data it is sent.
inline uint32_t fnv(const std::string &data, size_t from = 0, size_t count = std::string::npos)
{
    uint32_t h = 2166136261u;
    const size_t end = count == std::string::npos ? data.size() : from + count;
    for (size_t i = from; i < end; ++i)
        h = (h ^ static_cast<uint8_t>(data[i])) * 16777619u;
    return h;
}

} // namespace vt
