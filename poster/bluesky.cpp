// An AT Protocol server's records: the text as a post in the account's own
// repository, with the session every poster shares.
#include <cstring>

#include "bluesky_session.h"
#include "post_ways.h"
#include "record_body.h"

namespace {

// Errors come in a few dozen bytes; anything longer is not one we act on.
const DWORD kAnswerRoom = 1024;

// The time the record says it was made, in UTC, to the millisecond.
void makeCreatedAt(char (&createdAt)[kCreatedAtMax + 1]) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wsprintfA(createdAt, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
}

}  // namespace

bool postToBluesky(const char* mood, PostResult& result) {
    char text[statusTextSize(kBlueskyLimit)];
    statusText(text, mood, kBlueskyLimit);
    if (isBlankText(text))
        return false;  // the user cleared their mood
    char createdAt[kCreatedAtMax + 1];
    makeCreatedAt(createdAt);
    SessionTokens tokens;
    char refused[kTokenMax + 1] = "";
    // Sent once more, with the same time, only after the server refused the
    // token as expired or not valid: then the session is renewed first.
    for (int sent = 0; sent < 2; ++sent) {
        if (!takeSession(tokens, refused[0] ? refused : NULL, result))
            return true;
        char body[kRecordBodyRoom];
        DWORD bodyLength = static_cast<DWORD>(recordBody(body, tokens.did, text, createdAt));
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
