#include "record_body.h"

#include <cstring>

namespace {

const char* const kFeatureTypes[] = {
    "app.bsky.richtext.facet#link\",\"uri\":",  // link
    "app.bsky.richtext.facet#link\",\"uri\":",  // bareLink
    "app.bsky.richtext.facet#mention\",\"did\":",
    "app.bsky.richtext.facet#tag\",\"tag\":",   // tag
    "app.bsky.richtext.facet#tag\",\"tag\":",   // cashtag
};

bool written(const Facet& facet) {
    return facet.kind != FacetKind::mention || (facet.did && facet.did[0]);
}

// The feature's value as the library makes it, into value (as large as
// the text, and "https://").
void facetValue(char* value, const char* text, const Facet& facet) {
    std::size_t length = facet.end - facet.valueStart;
    char* out = value;
    if (facet.kind == FacetKind::bareLink) {
        std::memcpy(out, "https://", 8);
        out += 8;
    }
    std::memcpy(out, text + facet.valueStart, length);
    if (facet.kind == FacetKind::cashtag)
        for (std::size_t i = 0; i < length; ++i)
            if (out[i] >= 'a' && out[i] <= 'z')
                out[i] = static_cast<char>(out[i] - 'a' + 'A');
    out[length] = '\0';
}

// A byte offset in decimal, at most 20 digits.
void decimal(char (&out)[21], std::size_t n) {
    char digits[21];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = digits[count - 1 - i];
    out[count] = '\0';
}

bool appendFacet(char* dest, std::size_t room, std::size_t& used, const char* text, const Facet& facet,
                 bool first) {
    char start[21], end[21];
    decimal(start, facet.start);
    decimal(end, facet.end);
    if (!jsonAppendRaw(dest, room, used, first ? "{\"index\":{\"byteStart\":" : ",{\"index\":{\"byteStart\":") ||
        !jsonAppendRaw(dest, room, used, start) || !jsonAppendRaw(dest, room, used, ",\"byteEnd\":") ||
        !jsonAppendRaw(dest, room, used, end) ||
        !jsonAppendRaw(dest, room, used, "},\"features\":[{\"$type\":\"") ||
        !jsonAppendRaw(dest, room, used, kFeatureTypes[static_cast<int>(facet.kind)]))
        return false;
    if (facet.kind == FacetKind::mention)
        return jsonAppendString(dest, room, used, facet.did) && jsonAppendRaw(dest, room, used, "}]}");
    char value[statusTextSize(kBlueskyLimit) + 8];
    if (facet.end - facet.valueStart >= sizeof value - 8)
        return false;  // never from a status text
    facetValue(value, text, facet);
    return jsonAppendString(dest, room, used, value) && jsonAppendRaw(dest, room, used, "}]}");
}

}  // namespace

bool jsonAppendFacets(char* dest, std::size_t room, std::size_t& used, const char* text, const Facet* facets,
                      std::size_t count) {
    std::size_t at = used;
    bool first = true;
    if (!jsonAppendRaw(dest, room, at, "["))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!written(facets[i]))
            continue;
        if (!appendFacet(dest, room, at, text, facets[i], first)) {
            dest[used] = '\0';
            return false;
        }
        first = false;
    }
    if (!jsonAppendRaw(dest, room, at, "]")) {
        dest[used] = '\0';
        return false;
    }
    used = at;
    return true;
}

std::size_t recordBody(char* dest, const char* did, const char* text, const char* createdAt,
                       const RecordExtras& extras) {
    std::size_t used = 0;
    jsonAppendRaw(dest, kRecordBodyRoom, used, "{\"repo\":");
    jsonAppendString(dest, kRecordBodyRoom, used, did);
    jsonAppendRaw(dest, kRecordBodyRoom, used,
                  ",\"collection\":\"app.bsky.feed.post\",\"record\":{\"$type\":\"app.bsky.feed.post\",\"text\":");
    jsonAppendString(dest, kRecordBodyRoom, used, text);
    jsonAppendRaw(dest, kRecordBodyRoom, used, ",\"createdAt\":");
    jsonAppendString(dest, kRecordBodyRoom, used, createdAt);
    bool anyFacet = false;
    for (std::size_t i = 0; i < extras.facetCount; ++i)
        anyFacet = anyFacet || written(extras.facets[i]);
    if (anyFacet) {
        jsonAppendRaw(dest, kRecordBodyRoom, used, ",\"facets\":");
        jsonAppendFacets(dest, kRecordBodyRoom, used, text, extras.facets, extras.facetCount);
    }
    if (extras.language && extras.language[0] && std::strlen(extras.language) <= kLanguageMax) {
        jsonAppendRaw(dest, kRecordBodyRoom, used, ",\"langs\":[");
        jsonAppendString(dest, kRecordBodyRoom, used, extras.language);
        jsonAppendRaw(dest, kRecordBodyRoom, used, "]");
    }
    jsonAppendRaw(dest, kRecordBodyRoom, used, "}}");
    return used;
}
