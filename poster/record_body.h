// The body of an AT Protocol server's createRecord for one post, as the
// program and the benchmarks' bare poster both send it: no Win32 here, so
// this also builds natively.
#pragma once
#include <cstddef>

#include "json_text.h"
#include "session_rules.h"
#include "status_text.h"

// The longest time text recordBody takes, in bytes.
constexpr std::size_t kCreatedAtMax = 31;

// Room for the longest body: a DID of kDidMax bytes, a text of at most
// kBlueskyLimit code points, the time, and the JSON around them.
constexpr std::size_t kRecordBodyRoom = jsonStringSize(kDidMax) + jsonStringSize(statusTextSize(kBlueskyLimit) - 1) +
                                        jsonStringSize(kCreatedAtMax) + 128;

// Writes {"repo": DID, "collection": "app.bsky.feed.post", "record":
// {"$type": "app.bsky.feed.post", "text": TEXT, "createdAt": TIME}} into dest
// (kRecordBodyRoom bytes) and returns its length. The text should have been
// through statusText, so that it is well-formed UTF-8 and fits.
std::size_t recordBody(char* dest, const char* did, const char* text, const char* createdAt);
