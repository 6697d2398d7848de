// The createRecord body with what a post holds besides its text: the facets
// as the lexicon writes them, mentions only once resolved, the language.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../poster/record_body.h"

namespace {

std::string bodyOf(const std::string& text, std::vector<Facet> facets, const char* language) {
    std::vector<char> body(kRecordBodyRoom);
    RecordExtras extras = {facets.data(), facets.size(), language};
    std::size_t length = recordBody(body.data(), "did:plc:me", text.c_str(), "T", extras);
    return std::string(body.data(), length);
}

const std::string kHead = "{\"repo\":\"did:plc:me\",\"collection\":\"app.bsky.feed.post\",\"record\":{\"$type\":\"app.bsky.feed.post\",\"text\":";

TEST(RecordBody, FacetsAndLanguageAsTheLexiconWritesThem) {
    const std::string text = "@a.test $aapl x.ai \"#t\\\"";
    const Facet mention = {FacetKind::mention, 0, 7, 1, "did:plc:a"};
    const Facet unresolved = {FacetKind::mention, 0, 7, 1, nullptr};
    const Facet cashtag = {FacetKind::cashtag, 8, 13, 8, nullptr};
    const Facet bare = {FacetKind::bareLink, 14, 18, 14, nullptr};
    const Facet tag = {FacetKind::tag, 20, 24, 21, nullptr};
    const std::string textJson = "\"@a.test $aapl x.ai \\\"#t\\\\\\\"\",\"createdAt\":\"T\"";
    const struct {
        std::vector<Facet> facets;
        const char* language;
        std::string record;
        const char* proves;
    } cases[] = {
        {{}, "", textJson + "}}", "no facets and no language: neither key"},
        {{unresolved}, "en", textJson + ",\"langs\":[\"en\"]}}", "a mention not resolved is left out, and then the key"},
        {{mention, cashtag, bare, tag}, "ja",
         textJson + ",\"facets\":["
                    "{\"index\":{\"byteStart\":0,\"byteEnd\":7},\"features\":[{\"$type\":\"app.bsky.richtext.facet#mention\",\"did\":\"did:plc:a\"}]},"
                    "{\"index\":{\"byteStart\":8,\"byteEnd\":13},\"features\":[{\"$type\":\"app.bsky.richtext.facet#tag\",\"tag\":\"$AAPL\"}]},"
                    "{\"index\":{\"byteStart\":14,\"byteEnd\":18},\"features\":[{\"$type\":\"app.bsky.richtext.facet#link\",\"uri\":\"https://x.ai\"}]},"
                    "{\"index\":{\"byteStart\":20,\"byteEnd\":24},\"features\":[{\"$type\":\"app.bsky.richtext.facet#tag\",\"tag\":\"t\\\\\\\"\"}]}"
                    "],\"langs\":[\"ja\"]}}",
         "each kind, the cashtag in capitals, the bare domain as https, a value escaped"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bodyOf(text, c.facets, c.language), kHead + c.record) << c.proves;
}

TEST(RecordBody, EveryFacetOfTheDensestPostsFits) {
    // The most facets, and the longest values escaped: a tag of control
    // characters escapes each to six bytes.
    const struct {
        std::string mood;
        std::size_t facets;
        const char* proves;
    } cases[] = {
        {[] { std::string s; for (int i = 0; i < 150; ++i) s += "$a "; return s; }(), 99,
         "cashtags, as many as 300 code points hold"},
        {[] { std::string s; for (int i = 0; i < 4; ++i) s += "#" + std::string(58, '\x01') + "(a.ai "; return s; }(), 8,
         "tags of control characters holding links"},
        {[] { std::string s; for (int i = 0; i < 40; ++i) s += "@a" + std::to_string(i % 10) + ".test "; return s; }(),
         33, "mentions, 8 resolved to the longest DIDs"},
    };
    const std::string did = "did:web:" + std::string(kDidMax - 8, 'w');
    for (const auto& c : cases) {
        std::vector<char> text(statusTextSize(kBlueskyLimit));
        statusText(text.data(), c.mood.c_str(), kBlueskyLimit);
        std::vector<Facet> facets(kMaxFacets + 1);
        facets.resize(findFacets(text.data(), facets.data(), facets.size()));
        EXPECT_EQ(facets.size(), c.facets) << c.proves;
        for (std::size_t i = 0, asked = 0; i < facets.size(); ++i)
            if (facets[i].kind == FacetKind::mention && asked++ < kMaxMentions)
                facets[i].did = did.c_str();
        std::string body = bodyOf(text.data(), facets, "en");
        EXPECT_NE(body.find("\"facets\":["), std::string::npos) << c.proves;
        EXPECT_EQ(body.substr(body.size() - 16), "\"langs\":[\"en\"]}}") << c.proves;
    }
}

}  // namespace
