// The one POST that every way of posting makes, to the service an account's
// section names, and how it ended.
#pragma once
#include <windows.h>

#include "post_outcome.h"

// Bound on each of a request's connect, send and receive. WinINet's own
// defaults let a server or captive portal that takes the connection and never
// answers hold a poster for as long as they allow; 30 s each is as long as
// anyone waits on a tray program, and the post then ends as not reached.
constexpr DWORD kRequestTimeoutMs = 30 * 1000;

// The longest a request may be held by a server that never answers: its
// connect, its send and its receive each running to their bound.
constexpr DWORD kRequestMostMs = 3 * kRequestTimeoutMs;

struct PostRequest {
    const char* path;      // with its query; null for the one the account's section names
    const char* headers;   // the extra header lines, CR LF between them, none after the last
    DWORD headersLength;
    const char* body;
    DWORD bodyLength;
    const char* username;  // for the HTTP client's own authentication; null for none at all
    const char* password;
    char* answer;          // gets the answer's body, as much as fits; null to throw it away
    DWORD answerRoom;
};

struct PostResult {
    PostOutcome outcome;
    DWORD status;      // the answer's status code; 0 when none came
    DWORD answerSize;  // bytes of the body kept in the request's answer
};

// Opens the session, the connection and the request, sends it once, reads
// the answer (into the request's answer, or once and throws it away), and
// closes everything.
PostResult sendPost(unsigned account, const PostRequest& request);

// The same with another method: "GET" for a question, with no body.
PostResult sendRequest(unsigned account, const char* method, const PostRequest& request);
