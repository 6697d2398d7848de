// The one POST that every way of posting makes, to the service the settings
// name, and how it ended.
#pragma once
#include <windows.h>

#include "post_outcome.h"

struct PostRequest {
    const char* path;      // with its query; null for the one the settings name
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
PostResult sendPost(const PostRequest& request);

// The same with another method: "GET" for a question, with no body.
PostResult sendRequest(const char* method, const PostRequest& request);
