// The text of a status for the servers that count characters: well-formed
// UTF-8, cut to their limit at a place that splits no character, and the
// test for a text with nothing to post. No Win32 here, so these also build
// natively for tests and fuzzing.
#pragma once
#include <cstddef>

// Most code points a Mastodon server takes in a status.
constexpr std::size_t kMastodonLimit = 500;

// Most code points a Bluesky post is cut to: it takes 300 graphemes, and
// each code point is at least one (and 300 take at most 1200 of its 3000
// bytes).
constexpr std::size_t kBlueskyLimit = 300;

// Bytes a text of at most `limit` code points may need, terminator included.
constexpr std::size_t statusTextSize(std::size_t limit) {
    return limit * 4 + 1;
}

// Writes the NUL-terminated src into dest (statusTextSize(limit) bytes) as
// well-formed UTF-8: each maximal ill-formed part becomes U+FFFD, as Unicode
// recommends. A text of more than `limit` code points (limit at least 1) is
// cut to fewer and ends with U+2026: never after a zero-width joiner, never
// before a mark that belongs to the character in front of it. Returns
// whether it cut.
bool statusText(char* dest, const char* src, std::size_t limit);

// Code points of the NUL-terminated src as statusText counts them: each
// maximal ill-formed part one, as the U+FFFD it becomes.
std::size_t codePointCount(const char* src);

// True when the well-formed UTF-8 text is empty or only Unicode white space.
bool isBlankText(const char* text);
