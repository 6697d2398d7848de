// The JSON field reader and string writer: the reader never reads past the
// size nor writes past its room, answers the same whatever follows the size,
// and what it finds ends where a server's answer would; the writer's string
// reads back whole as the bytes it was given.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../poster/json_text.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "json text: %s\n", why);
    std::abort();
}

const std::size_t kGuard = 32;

// Reads `name` from exactly size bytes on the heap (the sanitizer catches a
// read past them) into a room of `room` with a guard zone.
JsonField readField(const std::uint8_t* data, std::size_t size, const char* name, std::size_t room,
                    std::string& value) {
    char* text = new char[size ? size : 1];
    if (size)
        std::memcpy(text, data, size);
    char* dest = new char[room + kGuard];
    std::memset(dest, 0x5A, room + kGuard);
    JsonField field = jsonStringField(text, size, name, dest, room);
    for (std::size_t i = room; i < room + kGuard; ++i)
        if (dest[i] != 0x5A)
            fail("wrote past the room");
    if (!std::memchr(dest, '\0', room))
        fail("not terminated within the room");
    value = dest;
    if (field != JsonField::found && !value.empty())
        fail("a value left behind when not found");
    delete[] dest;
    delete[] text;
    return field;
}

void checkReader(const std::uint8_t* data, std::size_t size) {
    static const char* const names[] = {"accessJwt", "did", "error", ""};
    const std::size_t room = 1 + (size ? data[0] % 64 : 0);
    for (const char* name : names) {
        std::string value, wide_value;
        JsonField field = readField(data, size, name, room, value);
        // A room that holds anything the text could give changes nothing but
        // the values that did not fit.
        JsonField wide = readField(data, size, name, size + 1, wide_value);
        if (field == JsonField::found && (wide != field || wide_value != value))
            fail("a larger room found something else");
        if ((field == JsonField::malformed) != (wide == JsonField::malformed))
            fail("whether the text is well formed depends on the room");
        if (field == JsonField::found && value.size() >= room)
            fail("a found value longer than the room");
    }
}

void checkWriter(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    const std::size_t room = jsonStringSize(text.size()) + 12;
    char* body = new char[room];
    std::size_t used = 0;
    if (!jsonAppendRaw(body, room, used, "{\"v\":") || !jsonAppendString(body, room, used, text.c_str()) ||
        !jsonAppendRaw(body, room, used, "}"))
        fail("the worst case did not fit its size");
    if (used != std::strlen(body))
        fail("used is not the length");
    for (std::size_t i = 0; i < used; ++i) {
        unsigned char b = static_cast<unsigned char>(body[i]);
        if (b < 0x20 || b == 0x7F)
            fail("a control character went out unescaped");
    }
    char* back = new char[text.size() + 1];
    if (jsonStringField(body, used, "v", back, text.size() + 1) != JsonField::found || text != back)
        fail("the string does not read back as written");
    // Any smaller room is refused whole, leaving what was there.
    const std::size_t small = 5 + (size ? data[size - 1] : 0) % (used - 5 + 1);
    std::size_t at = 5;
    body[at] = '\0';
    bool fitted = jsonAppendString(body, small, at, text.c_str());
    if (fitted ? at != used - 1 : (at != 5 || body[5] != '\0'))
        fail("a string that did not fit was not refused whole");
    delete[] back;
    delete[] body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkReader(data, size);
    checkWriter(data, size);
    return 0;
}
