#include "settings_rules.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool needsQuoting(const char* value) {
    std::size_t n = std::strlen(value);
    if (n == 0)
        return false;
    if (isBlank(value[0]) || isBlank(value[n - 1]))
        return true;
    // The reader drops single quotation marks as well as double ones.
    return n > 1 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0];
}

void profileValueToWrite(char* dest, const char* value) {
    std::size_t n = strnlen(value, 255);
    if (!needsQuoting(value)) {
        std::memcpy(dest, value, n);
        dest[n] = '\0';
        return;
    }
    dest[0] = '"';
    std::memcpy(dest + 1, value, n);
    dest[n + 1] = '"';
    dest[n + 2] = '\0';
}
