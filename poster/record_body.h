// The body of an AT Protocol server's createRecord for one post, as the
// program and the benchmarks' bare poster both send it: no Win32 here, so
// this also builds natively.
#pragma once
#include <cstddef>

#include "json_text.h"
#include "rich_text.h"
#include "session_rules.h"
#include "status_text.h"

// The longest time text recordBody takes, in bytes.
constexpr std::size_t kCreatedAtMax = 31;

// Longest language code recordBody takes, in bytes.
constexpr std::size_t kLanguageMax = 3;

// Room for every facet a text of kBlueskyLimit code points can hold: the
// JSON around each, its two offsets and a feature's quotes and "https://";
// the values, each a part of the text of which every character is in one
// link, one tag and one cashtag at most, escaped to six bytes at worst; and
// the DIDs of the mentions asked about, which isDid keeps free of escapes.
constexpr std::size_t kFacetJsonRoom =
    sizeof ",{\"index\":{\"byteStart\":,\"byteEnd\":},\"features\":[{\"$type\":\"app.bsky.richtext.facet#mention\",\"did\":}]}" +
    2 * 20 + 2 + 8;
constexpr std::size_t kFacetsRoom =
    sizeof ",\"facets\":[]" + kMaxFacets * kFacetJsonRoom + 3 * 6 * kBlueskyLimit + kMaxMentions * kDidMax;

// Room for the longest body: a DID of kDidMax bytes, a text of at most
// kBlueskyLimit code points, the time, the facets, the language and the
// JSON around them.
constexpr std::size_t kRecordBodyRoom = jsonStringSize(kDidMax) + jsonStringSize(statusTextSize(kBlueskyLimit) - 1) +
                                        jsonStringSize(kCreatedAtMax) + kFacetsRoom +
                                        jsonStringSize(kLanguageMax) + 128;

// Appends the facets of text as the JSON array app.bsky.richtext.facet
// makes of them; mentions without a DID are left out. False, changing
// nothing, when the array would not fit whole.
bool jsonAppendFacets(char* dest, std::size_t room, std::size_t& used, const char* text, const Facet* facets,
                      std::size_t count);

// What a post holds besides its text: the facets of findFacets (mentions
// that were not resolved are left out) and the language code, "" for none.
struct RecordExtras {
    const Facet* facets;
    std::size_t facetCount;
    const char* language;
};

// Writes {"repo": DID, "collection": "app.bsky.feed.post", "record":
// {"$type": "app.bsky.feed.post", "text": TEXT, "createdAt": TIME,
// "facets": [...], "langs": [LANGUAGE]}} into dest (kRecordBodyRoom bytes),
// facets and langs only where there are any, and returns its length. The
// text should have been through statusText, so that it is well-formed UTF-8
// and fits.
std::size_t recordBody(char* dest, const char* did, const char* text, const char* createdAt,
                       const RecordExtras& extras);
