// An AT Protocol server's records: the text as a post in the account's own
// repository, with the session every poster shares.
#include <cstring>

#include "bluesky_session.h"
#include "json_text.h"
#include "post_ways.h"
#include "status_text.h"

namespace {

const std::size_t kBodyRoom =
    jsonStringSize(kDidMax) + jsonStringSize(statusTextSize(kBlueskyLimit) - 1) + 160;

// Errors come in a few dozen bytes; anything longer is not one we act on.
const DWORD kAnswerRoom = 1024;

// The time the record says it was made, in UTC, to the millisecond.
void makeCreatedAt(char (&createdAt)[32]) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wsprintfA(createdAt, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
}

DWORD makeBody(char (&body)[kBodyRoom], const char* did, const char* text, const char* createdAt) {
    std::size_t used = 0;
    jsonAppendRaw(body, sizeof body, used, "{\"repo\":");
    jsonAppendString(body, sizeof body, used, did);
    jsonAppendRaw(body, sizeof body, used,
                  ",\"collection\":\"app.bsky.feed.post\",\"record\":{\"$type\":\"app.bsky.feed.post\",\"text\":");
    jsonAppendString(body, sizeof body, used, text);
    jsonAppendRaw(body, sizeof body, used, ",\"createdAt\":");
    jsonAppendString(body, sizeof body, used, createdAt);
    jsonAppendRaw(body, sizeof body, used, "}}");
    return static_cast<DWORD>(used);
}

}  // namespace

bool postToBluesky(const char* mood, PostResult& result) {
    char text[statusTextSize(kBlueskyLimit)];
    statusText(text, mood, kBlueskyLimit);
    if (isBlankText(text))
        return false;  // the user cleared their mood
    char createdAt[32];
    makeCreatedAt(createdAt);
    SessionTokens tokens;
    char refused[kTokenMax + 1] = "";
    // Sent once more, with the same time, only after the server refused the
    // token as expired or not valid: then the session is renewed first.
    for (int sent = 0; sent < 2; ++sent) {
        if (!takeSession(tokens, refused[0] ? refused : NULL, result))
            return true;
        char body[kBodyRoom];
        DWORD bodyLength = makeBody(body, tokens.did, text, createdAt);
        char headers[kBearerHeadersRoom];
        char answer[kAnswerRoom];
        PostRequest request = {NULL, headers, bearerHeaders(headers, "Content-Type: application/json\r\n", tokens.access),
                               body, bodyLength, NULL, NULL, answer, kAnswerRoom};
        result = sendPost(request);
        if (!tokenRefused(result.status, answer, result.answerSize))
            break;
        std::memcpy(refused, tokens.access, sizeof refused);
    }
    return true;
}
