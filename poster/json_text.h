// Reading one field of a server's JSON answer and writing JSON strings for a
// request body. No Win32 here, so these also build natively for tests and
// fuzzing. The build has no exceptions and no JSON library: the reader is a
// strict scanner over a bounded buffer that keeps nothing but the one value.
#pragma once
#include <cstddef>

// What jsonStringField found.
enum class JsonField {
    found,     // the member is there once, a string, decoded whole into dest
    absent,    // no member of that name, or its value is not a string
    unfit,     // a string too long for dest, or one holding U+0000
    malformed  // the text is not one well-formed JSON object (RFC 8259)
};

// Longest name jsonStringField looks for, in bytes.
constexpr std::size_t kJsonNameMax = 63;

// Looks for the member `name` (NUL-terminated, at most kJsonNameMax bytes) of
// the object that text[0, size) holds, reading no byte past size. The whole
// text is checked: one object, blanks around it, nothing after. Members come
// in any order; values of other members, nested ones included, are checked
// and skipped. A name that occurs twice is malformed, so that no answer can
// mean two things. Escapes are decoded to UTF-8, a surrogate pair to its one
// character and a lone surrogate to U+FFFD; other bytes are copied as they
// come. dest (room bytes, at least 1) gets the value, terminated, when found,
// and "" otherwise.
JsonField jsonStringField(const char* text, std::size_t size, const char* name, char* dest, std::size_t room);

// Bytes a JSON string, its quotes and a terminator may need for a text of
// `bytes` bytes: every byte could be a six-byte \u00XX.
constexpr std::size_t jsonStringSize(std::size_t bytes) {
    return bytes * 6 + 2 + 1;
}

// Appends the NUL-terminated text to dest at `used` as a JSON string, quotes
// included: '"', '\' and every control character (below U+0020, and DEL)
// escaped, all other bytes as they are, so the text should be well-formed
// UTF-8 already. dest holds `room` bytes and stays terminated. Returns false,
// leaving dest and used as they were, when the string would not fit whole.
bool jsonAppendString(char* dest, std::size_t room, std::size_t& used, const char* text);

// Appends the NUL-terminated bytes as they are, e.g. the JSON around a
// string; false, changing nothing, when they would not fit whole.
bool jsonAppendRaw(char* dest, std::size_t room, std::size_t& used, const char* raw);
