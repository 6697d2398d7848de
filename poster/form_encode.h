// Form encoding of a status text and the response length rule: no Win32 here,
// so these also build natively for tests and fuzzing.
#pragma once
#include <cstddef>

// The request body is a 1024-byte buffer: "status=", the encoded text, one
// space and the terminator. That leaves this much room for the encoded text.
constexpr std::size_t kBodySize = 1024;
constexpr std::size_t kEncodedRoom = kBodySize - 7 - 1 - 1;

// Writes the form encoding of the NUL-terminated src into dest and terminates
// it: at most `room` encoded bytes, so dest needs room + 1. A text whose
// encoding would not fit is cut after the last whole character that fits:
// never inside a %XX group and never inside a UTF-8 sequence.
void formEncode(char* dest, const char* src, std::size_t room);

// Most we read of a response body; the body is discarded anyway.
constexpr long kMaxResponseRead = 64 * 1024;

// How many bytes to read for a Content-Length value of `size` bytes (not
// necessarily terminated). Converted like atol (leading blanks, a sign, then
// digits); anything negative or unreadable reads nothing, anything above
// kMaxResponseRead reads only that much.
long responseReadSize(const char* text, std::size_t size);
