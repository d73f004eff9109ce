#include "words.h"

#include <cctype>

namespace bench {

std::string lower(std::string_view s)
{
    std::string r(s);
    for (auto &c : r)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string trim(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        b++;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        e--;
    return std::string(s.substr(b, e - b));
}

bool parse_uint(std::string_view s, bool hex, uint64_t max, uint64_t &out)
{
    if (hex && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    if (s.empty() || s.size() > 16)
        return false;
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * (hex ? 16 : 10) + uint64_t(d);
        if (v > max)
            return false;
    }
    out = v;
    return true;
}

} // namespace bench
