// Names of files and libraries: the user's spelling is tried first, then the
// lower-case form that the options keep.
#pragma once

#include <cctype>
#include <cstring>
#include <string>

inline void to_lower(char *s)
{
    for (; *s != '\0'; ++s)
        *s = static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
}

inline std::string lowered(const char *s)
{
    std::string out(s);
    to_lower(out.data());
    return out;
}

// Opens a file under the name as typed, then under its lower-case form.
template <typename Open> auto open_typed_then_lower(const char *typed, const char *lower, Open open)
{
    auto result = open(typed);
    if (!result && std::strcmp(typed, lower) != 0)
        result = open(lower);
    return result;
}
