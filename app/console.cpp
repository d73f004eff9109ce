#include "console.h"

#include <cstdarg>
#include <cstdio>

namespace {

void escape(std::string &out, unsigned char c)
{
    static const char hex[] = "0123456789ABCDEF";
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 0x0F];
}

// Length of the valid UTF-8 sequence at s (at most n bytes), 0 when none:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t utf8_length(const unsigned char *s, size_t n)
{
    const unsigned char c = s[0];
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || s[1] < lo || s[1] > hi)
        return 0;
    for (size_t i = 2; i < len; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF)
            return 0;
    }
    return len;
}

void vprint(std::FILE *to, const char *fmt, va_list ap)
{
    std::vfprintf(to, fmt, ap);
    std::fflush(to);
}

} // namespace

void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprint(stdout, fmt, ap);
    va_end(ap);
}

void warn(const char *fmt, ...)
{
    std::fflush(stdout); // what was said before comes first
    va_list ap;
    va_start(ap, fmt);
    vprint(stderr, fmt, ap);
    va_end(ap);
}

std::string printable(const char *text, size_t max)
{
    std::string out;
    if (text == nullptr)
        return out;
    size_t n = 0;
    while (n < max && text[n] != '\0')
        ++n;
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x20 || c == 0x7F) {
            escape(out, c);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const size_t len = utf8_length(s + i, n - i); len > 0) {
            out.append(text + i, len);
            i += len;
        } else {
            escape(out, c);
            ++i;
        }
    }
    return out;
}
