// The facets, whatever the bytes: none outside the text, none starting or
// ending inside a UTF-8 sequence, in the order of their starts, the value
// inside the span; and for a post as the program makes it (repaired and
// cut), never more than kMaxFacets, and the createRecord body with all of
// them (mentions with the longest DIDs) always fits and is well-formed JSON.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../poster/record_body.h"
#include "utf8_reference.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "rich text: %s\n", why);
    std::abort();
}

// Whether byte i of s lies inside a well-formed UTF-8 sequence (not at its
// start).
std::vector<bool> insideSequences(const std::string& s) {
    std::vector<bool> inside(s.size() + 1, false);
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = wellFormedAt(s, i);
        if (n == 0)
            n = 1;
        for (std::size_t k = 1; k < n; ++k)
            inside[i + k] = true;
        i += n;
    }
    return inside;
}

void checkFacets(const std::string& text, const Facet* facets, std::size_t count) {
    std::vector<bool> inside = insideSequences(text);
    for (std::size_t i = 0; i < count; ++i) {
        const Facet& f = facets[i];
        if (!(f.start < f.end && f.end <= text.size()))
            fail("a facet outside the text, or empty");
        if (!(f.valueStart >= f.start && f.valueStart < f.end))
            fail("a value outside its span");
        if (inside[f.start] || inside[f.end] || inside[f.valueStart])
            fail("a facet inside a UTF-8 sequence");
        if (i && facets[i - 1].start > f.start)
            fail("not in the order of their starts");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The raw bytes, in a block of their exact size, so any read past the
    // terminator is seen.
    std::string raw(reinterpret_cast<const char*>(data), size);
    raw = raw.substr(0, std::strlen(raw.c_str()));
    std::vector<char> exact(raw.begin(), raw.end());
    exact.push_back('\0');
    std::vector<Facet> facets(raw.size() / 2 + 1);
    checkFacets(raw, facets.data(), findFacets(exact.data(), facets.data(), facets.size()));

    // The post the program makes of them.
    std::vector<char> text(statusTextSize(kBlueskyLimit));
    bool cut = statusText(text.data(), exact.data(), kBlueskyLimit);
    std::string posted(text.data());
    std::vector<Facet> found(kMaxFacets + 1);
    std::size_t count = findFacets(text.data(), found.data(), found.size());
    if (count > kMaxFacets)
        fail("more facets than kMaxFacets");
    checkFacets(posted, found.data(), count);
    if (cut) {
        count = dropFacetsFrom(found.data(), count, posted.size() - 3);
        for (std::size_t i = 0; i < count; ++i)
            if (found[i].end >= posted.size() - 3)
                fail("a facet reaches the cut");
    }
    static const std::string did = "did:plc:" + std::string(kDidMax - 8, 'z');
    if (!isDid(did.c_str()))
        fail("the longest DID is not one");
    std::size_t mentions = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (found[i].kind == FacetKind::mention && mentions++ < kMaxMentions)
            found[i].did = did.c_str();
    std::vector<char> body(kRecordBodyRoom);
    RecordExtras extras = {found.data(), count, "en"};
    std::size_t length = recordBody(body.data(), did.c_str(), text.data(), "2026-12-09T17:00:00.000Z", extras);
    // The DID is longer than this: "unfit" says the member was there and
    // the whole text one well-formed object.
    char repo[8];
    if (jsonStringField(body.data(), length, "repo", repo, sizeof repo) != JsonField::unfit)
        fail("the body is not well-formed, or lost its repo");
    if (length < 2 || std::memcmp(body.data() + length - 2, "}}", 2) != 0 ||
        (count && !std::strstr(body.data(), "\"facets\":[")) || !std::strstr(body.data(), "\"langs\":[\"en\"]"))
        fail("the body did not fit its room");
    return 0;
}
