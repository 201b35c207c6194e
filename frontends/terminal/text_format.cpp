// printf-style formatting of the front ends' own (translated) texts.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "frontends/terminal/translation.h"

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return text;
}
