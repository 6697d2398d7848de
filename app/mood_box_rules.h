// The rules of the box where the user types a mood: how much of what is typed
// it keeps, and the line under it. No Win32 here, so this also builds natively
// for tests and fuzzing.
#pragma once
#include <cstddef>

#include "../poster/service_rules.h"

// Bytes the UTF-8 form of `count` UTF-16 units takes: a surrogate pair four,
// a surrogate without its other half three, as the U+FFFD it becomes.
// Units are wchar_t as Windows gives them; natively wider, they are read as
// 16-bit values all the same.
std::size_t utf8Size(const wchar_t* units, std::size_t count);

// Keeps a box's text within `bytesMax` bytes of UTF-8 after an edit turned
// `before` (which fit) into `after`: of what the edit put in, as much as fits
// is kept, never half a surrogate pair; what was there before stays. `after`
// holds afterCount units and room for a terminator, and is changed in place;
// returns its new length, and in `caret` the place just after what was kept
// of the edit.
std::size_t fitTypedText(const wchar_t* before, std::size_t beforeCount, wchar_t* after, std::size_t afterCount,
                         std::size_t bytesMax, std::size_t& caret);

// Room the line under the box needs, terminator included.
constexpr std::size_t kMoodCounterSize = 128;

// Writes the line under the box for the UTF-8 mood: for a way that cuts to a
// limit, how many characters are left as its poster counts them, or, past
// it, that the mood will be cut; for the usual service, nothing.
void moodCounterLine(char* dest, const char* mood, PostingWay way);
