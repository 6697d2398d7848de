// The facets the program would send for each text on standard input (texts
// end with a NUL): one line each, {"text": the text as posted, "facets":
// [...], "cut": whether it was}, the mentions' DIDs standing for the handles, as the library
// leaves them before they are resolved. rich_text_oracle.js compares them
// with the library's own.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "../../poster/record_body.h"

int main() {
    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    for (std::size_t at = 0; at < input.size();) {
        std::size_t end = input.find('\0', at);
        if (end == std::string::npos)
            end = input.size();
        std::string mood = input.substr(at, end - at);
        at = end + 1;
        std::vector<char> text(statusTextSize(kBlueskyLimit));
        bool cut = statusText(text.data(), mood.c_str(), kBlueskyLimit);
        std::vector<Facet> facets(kMaxFacets);
        std::size_t count = findFacets(text.data(), facets.data(), facets.size());
        if (cut)
            count = dropFacetsFrom(facets.data(), count, std::string(text.data()).size() - 3);
        std::vector<std::string> handles(count);
        for (std::size_t i = 0; i < count; ++i)
            if (facets[i].kind == FacetKind::mention) {
                handles[i].assign(text.data() + facets[i].valueStart, facets[i].end - facets[i].valueStart);
                facets[i].did = handles[i].c_str();
            }
        std::vector<char> line(kRecordBodyRoom);
        std::size_t used = 0;
        bool fits = jsonAppendRaw(line.data(), line.size(), used, "{\"text\":") &&
                    jsonAppendString(line.data(), line.size(), used, text.data()) &&
                    jsonAppendRaw(line.data(), line.size(), used, ",\"facets\":") &&
                    jsonAppendFacets(line.data(), line.size(), used, text.data(), facets.data(), count) &&
                    jsonAppendRaw(line.data(), line.size(), used, cut ? ",\"cut\":true}" : ",\"cut\":false}");
        if (!fits) {
            std::fprintf(stderr, "the facets did not fit their room\n");
            return 1;
        }
        std::printf("%s\n", line.data());
    }
    return 0;
}
