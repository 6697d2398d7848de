// What an AT Protocol server's answers mean for the session the posters
// share: no Win32 here, so these also build natively for tests and fuzzing.
#pragma once
#include <cstddef>

// Longest token or DID taken from an answer, in bytes. The server's tokens
// are JWTs of a few hundred bytes; a DID may be up to 2 KB.
constexpr std::size_t kTokenMax = 2048;
constexpr std::size_t kDidMax = 2048;

// A session as the server made it: what goes into the posts' headers and
// bodies.
struct SessionTokens {
    char access[kTokenMax + 1];
    char refresh[kTokenMax + 1];
    char did[kDidMax + 1];
};

// How a server answered createSession, or refreshSession with its 2xx.
enum class SessionAnswer {
    made,               // 2xx with both tokens fit for a header and a DID
    refused,            // 401: the handle or the app password was refused
    appPasswordNeeded,  // AuthFactorTokenRequired: the account's own password was given
    otherAnswer         // anything else, a 2xx without what a session needs included
};

// Reads the answer (its status code and the body's first `size` bytes).
// Only for `made` are the tokens filled; otherwise they are all "".
SessionAnswer readSession(unsigned long status, const char* body, std::size_t size, SessionTokens& tokens);

// Whether a token may go into an Authorization header: 1 to kTokenMax bytes,
// each of A-Z a-z 0-9 . _ - (what a JWT is made of), so no answer can add a
// header line or anything else to the request.
bool isHeaderToken(const char* token);

// Whether the server refused the token a request carried as expired or not
// valid (400 or 401 with the error ExpiredToken or InvalidToken): for a post,
// the session is renewed and the post sent once more; for refreshSession,
// a new session is made.
bool tokenRefused(unsigned long status, const char* body, std::size_t size);
