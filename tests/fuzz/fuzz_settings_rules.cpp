// The settings file's rules. The value as written, read back by a model of
// the profile reader, is the value; it is quoted only when the reader would
// change it, and fits kQuotedValueSize. The path rule on a module name of any
// length and buffer size touches only what it may.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../app/settings_rules.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "settings rules: %s\n", why);
    std::abort();
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

// What the profile reader gives for a stored value: blanks dropped at both
// ends, then one enclosing pair of matching quotation marks.
std::string readBack(std::string stored) {
    std::size_t first = 0, last = stored.size();
    while (first < last && blank(stored[first]))
        ++first;
    while (last > first && blank(stored[last - 1]))
        --last;
    stored = stored.substr(first, last - first);
    if (stored.size() > 1 && (stored[0] == '"' || stored[0] == '\'') && stored.back() == stored[0])
        stored = stored.substr(1, stored.size() - 2);
    return stored;
}

void checkValue(const std::uint8_t* bytes, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(bytes);
    const std::string value(text, strnlen(text, size < 255 ? size : 255));
    char* written = new char[kQuotedValueSize];
    profileValueToWrite(written, value.c_str());
    const char* end = static_cast<const char*>(std::memchr(written, '\0', kQuotedValueSize));
    if (!end)
        fail("written value does not fit kQuotedValueSize");
    const std::string stored(written, static_cast<std::size_t>(end - written));
    delete[] written;
    if (readBack(stored) != value)
        fail("value does not read back unchanged");
    bool changedByReader = readBack(value) != value;
    if (needsQuoting(value.c_str()) != changedByReader)
        fail("quoting decision differs from what the reader would change");
    if (!changedByReader && stored != value)
        fail("a value the reader keeps is not written as it is");
}

void checkPath(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider input(bytes, size);
    const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, 600);
    const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, capacity);
    const bool cutTerminated = input.ConsumeBool();
    // What the module file name query leaves: `length` bytes of the name and
    // a terminator, or, when cut, the buffer full (terminated or not).
    std::vector<char> before = input.ConsumeBytes<char>(capacity);
    before.resize(capacity, 'p');
    if (length < capacity)
        before[length] = '\0';
    else if (cutTerminated && capacity > 0)
        before[capacity - 1] = '\0';
    char* path = new char[capacity];
    if (capacity > 0)
        std::memcpy(path, before.data(), capacity);
    bool whole = settingsPathFromModulePath(path, length, capacity);
    if (whole != (length >= 3 && length < capacity))
        fail("path taken whole when it was not, or the other way round");
    if (whole) {
        if (std::memcmp(path, before.data(), length - 3) != 0 || std::memcmp(path + length - 3, "ini", 4) != 0)
            fail("the last three bytes did not become ini");
        if (std::memcmp(path + length + 1, before.data() + length + 1, capacity - length - 1) != 0)
            fail("bytes after the terminator changed");
    } else if (capacity > 0) {
        if (path[0] != '\0' || std::memcmp(path + 1, before.data() + 1, capacity - 1) != 0)
            fail("a path not had whole is not just emptied");
    }
    delete[] path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkValue(data, size);
    checkPath(data, size);
    return 0;
}
