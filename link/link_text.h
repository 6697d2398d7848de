// Texts of the link that need no Win32: the command text and the mood
// notification. Both only ever look at the bytes they are given.
#pragma once
#include <cstddef>

#include "../poster/status_text.h"

// Bytes needed for the command's text: a leading space, the command and the
// terminator.
std::size_t commandTextSize(const char* command);

// Writes the text that goes to the client for `command`: "PROTOCOL 5" goes as
// it is, every other command with one leading space (" PING").
void commandText(char* dest, const char* command);

// "PROFILE MOOD_TEXT ", the trailing space included.
constexpr std::size_t kMoodPrefixSize = 18;

// Most bytes of a mood the program keeps, from the client or typed: the
// longest cut any way makes (Mastodon's, kMastodonLimit code points of at
// most 4 bytes each) and one code point more, which the cut reads to know
// that "…" is due. The usual service's body holds fewer.
constexpr std::size_t kMoodBytesMax = 4 * (kMastodonLimit + 1);

// True when a notification of `size` bytes is a mood notification: longer
// than the prefix and starting with it exactly (case-sensitive).
bool isMoodNotification(const char* data, std::size_t size);

// Bytes of a mood notification's text that are kept: the text after the
// prefix up to its terminator, or up to `size` bytes when none is inside
// them, but never more than kMoodBytesMax, cut back to the start of a UTF-8
// sequence that would not fit whole. So a queue of notifications holds at
// most kMoodBytesMax + 1 bytes for each, however large the notification.
std::size_t moodTextLength(const char* data, std::size_t size);

// Size of the block for the mood text of a mood notification: its kept
// length and the terminator.
std::size_t moodBlockSize(const char* data, std::size_t size);

// Copies the kept text into dest (moodBlockSize bytes) and terminates it; it
// never reads past `size` bytes of data.
void copyMoodText(char* dest, const char* data, std::size_t size);
