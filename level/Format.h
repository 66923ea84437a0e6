#pragma once
// printf-style formatting into a std::string, for the reader's error and warning texts. A text
// longer than 511 bytes is cut there.
#include <cstdio>
#include <string>

namespace tr4 {

template <class... Args>
std::string Format(const char* fmt, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

}  // namespace tr4
