// A Mastodon server's statuses: the text as a form field, the access token
// as a Bearer header, a key that makes a repeat of the request harmless.
#include <cstring>

#include "../app/credentials.h"
#include "form_encode.h"
#include "post_language.h"
#include "post_ways.h"
#include "service_rules.h"
#include "status_text.h"

namespace {

// The body: "status=" and the text of at most 500 code points, each byte of
// which may take three when encoded, "&language=" and its code, and the
// terminator.
const std::size_t kEncodedTextRoom = 3 * (statusTextSize(kMastodonLimit) - 1);
const std::size_t kBodyRoom = 7 + kEncodedTextRoom + 10 + kLanguageMax + 1;

// Posters of this process so far, for the idempotency key.
volatile LONG g_keysMade;

// A key of its own for every request: the server keeps one for an hour and
// answers a request that carries it again with the status it made then, so
// a key must never come back, not even after a restart. The time, the
// process and a count within it are never all the same twice.
void makeIdempotencyKey(char (&key)[64]) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long count = static_cast<unsigned long>(InterlockedIncrement(&g_keysMade));
    wsprintfA(key, "%08lx%08lx-%lx-%lx", now.dwHighDateTime, now.dwLowDateTime, GetCurrentProcessId(), count);
}

}  // namespace

bool postToMastodon(unsigned account, const char* mood, PostResult& result) {
    char text[statusTextSize(kMastodonLimit)];
    statusText(text, mood, kMastodonLimit);
    if (isBlankText(text))
        return false;  // the server would refuse it, and the user cleared their mood
    char username[kCredentialSize];
    char password[kCredentialSize];
    copyCredentials(account, username, password);
    char token[kCredentialSize];
    if (!accessToken(token, password)) {
        // Never put into a header: told as the server would tell it.
        result.outcome = kAccountRefused;
        result.status = 0;
        return true;
    }
    char key[64];
    makeIdempotencyKey(key);
    // 255 bytes of token at most: well inside the 1024 that wsprintfA writes.
    char headers[1024];
    int headersLength = wsprintfA(headers,
                                  "Content-Type: application/x-www-form-urlencoded\r\n"
                                  "Authorization: Bearer %s\r\n"
                                  "Idempotency-Key: %s",
                                  token, key);
    char body[kBodyRoom] = "status=";
    formEncode(body + 7, text, kEncodedTextRoom);
    char language[kLanguageMax + 1];
    userLanguage(language);
    if (language[0]) {
        // Small letters alone: nothing to encode.
        wsprintfA(body + strlen(body), "&language=%s", language);
    }
    PostRequest request = {NULL, headers, static_cast<DWORD>(headersLength), body, static_cast<DWORD>(strlen(body)),
                           NULL, NULL, NULL, 0};
    result = sendPost(account, request);
    return true;
}
