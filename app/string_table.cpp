#include "app/string_table.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "resources/texts.h"

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// The texts come from the one list that the resource script reads too.
#define QUILLON_STRING_ENTRY(id, text) {id, text},
constexpr StringEntry kStrings[] = {QUILLON_STRING_TABLE(QUILLON_STRING_ENTRY)};
#undef QUILLON_STRING_ENTRY

}  // namespace

std::string LoadStringText(unsigned id) {
    for (const StringEntry& e : kStrings)
        if (e.id == id) return e.text;
    return std::string();
}

std::string FormatStringText(unsigned id, ...) {
    const std::string format = LoadStringText(id);
    va_list args;
    va_start(args, id);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format.c_str(), args);
    va_end(args);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format.c_str(), again);
        out.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}
