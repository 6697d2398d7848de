// Links, mentions and tags in a post's text, found as Bluesky's own client
// library finds them, as byte ranges of the UTF-8 text (the facets of an
// app.bsky.feed.post). No Win32 here, so this also builds natively for the
// tests, which hold it against the library itself, and for fuzzing.
#pragma once
#include <cstddef>

#include "session_rules.h"
#include "status_text.h"

enum class FacetKind {
    link,      // the address as written, http:// or https://
    bareLink,  // a bare domain and what follows it, linked as https://
    mention,   // @handle: the handle is the value
    tag,       // #tag or ＃tag: the value is the tag without its sign
    cashtag    // $TICKER: the value is the span, upper-cased
};

struct Facet {
    FacetKind kind;
    std::size_t start, end;  // the span's bytes in the text, end exclusive
    std::size_t valueStart;  // where the feature's value starts in the text; it ends at `end`
    const char* did;         // a mention's DID once resolved; null until then, and for the other kinds
};

// Each facet starts at a character that follows white space, "(" or the
// start of the text and is neither itself, and spans two characters at
// least, so a text of kBlueskyLimit code points holds at most this many.
constexpr std::size_t kMaxFacets = (kBlueskyLimit + 1) / 2;

// Finds the facets of the NUL-terminated text, at most `room` of them, in
// the order of their starts, and returns how many. The text should be
// well-formed UTF-8 (statusText's); any other byte is taken as a character
// of its own, so no facet starts or ends inside a well-formed sequence.
// Mentions come with did null: the caller resolves them.
std::size_t findFacets(const char* text, Facet* facets, std::size_t room);

// Drops the facets that reach `byte` or beyond (where a cut text's "…"
// starts: a cut address or tag would lead elsewhere) and returns how many
// are left.
std::size_t dropFacetsFrom(Facet* facets, std::size_t count, std::size_t byte);

// Most distinct handles asked about for one post; the others stay plain.
constexpr std::size_t kMaxMentions = 8;

// Whether text is a DID as the AT Protocol writes them, "did:", a method of
// small letters, ":" and an identifier of A-Z a-z 0-9 . _ : % - that ends in
// neither ":" nor "%", at most kDidMax bytes: nothing a JSON string or the
// server would have to quote or refuse.
bool isDid(const char* text);

// Whether a handle's characters could name a server: 1 to kHandleMax bytes
// of A-Z a-z 0-9 . - (what findFacets gives), so it can go into a query as
// it is.
constexpr std::size_t kHandleMax = 253;
bool isQueryHandle(const char* handle, std::size_t length);
