// The session rules over any answer: a session is made only of tokens fit
// for a header and a DID, and nothing of a refused answer is kept.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../poster/session_rules.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "session rules: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the status: 200, 400, 401 or another.
    static const unsigned long statuses[] = {200, 400, 401, 429};
    const unsigned long status = size ? statuses[data[0] % 4] : 200;
    const char* body = reinterpret_cast<const char*>(data) + (size ? 1 : 0);
    const std::size_t length = size ? size - 1 : 0;
    static SessionTokens tokens;
    std::memset(&tokens, 'x', sizeof tokens);
    SessionAnswer answer = readSession(status, body, length, tokens);
    if (answer == SessionAnswer::made) {
        if (status != 200 || !isHeaderToken(tokens.access) || !isHeaderToken(tokens.refresh) ||
            std::strncmp(tokens.did, "did:", 4) != 0 || !std::memchr(tokens.did, '\0', sizeof tokens.did))
            fail("a session of what a session may not hold");
    } else if (tokens.access[0] || tokens.refresh[0] || tokens.did[0]) {
        fail("something of an answer that made no session was kept");
    }
    if (answer == SessionAnswer::refused && status != 401)
        fail("refused without a 401");
    if (tokenRefused(status, body, length) && status != 400 && status != 401)
        fail("a token refused by a status that refuses none");
    return 0;
}
