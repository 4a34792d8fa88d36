#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Case for the settings file's single-byte text: only the ASCII letters have a
// case here, every other byte (those above 127 included) is left as it is, so
// the result never depends on the process's locale.

inline char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string upperCased(std::string_view text)
{
    std::string upper(text);
    for (char &c : upper)
        c = asciiUpper(c);
    return upper;
}

inline bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    return true;
}
