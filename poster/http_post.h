// The one POST that every way of posting makes, to the service the settings
// name, and how it ended.
#pragma once
#include <windows.h>

#include "post_outcome.h"

struct PostRequest {
    const char* headers;   // the extra header lines, CR LF between them, none after the last
    DWORD headersLength;
    const char* body;
    DWORD bodyLength;
    const char* username;  // for the HTTP client's own authentication; null for none at all
    const char* password;
};

struct PostResult {
    PostOutcome outcome;
    DWORD status;  // the answer's status code; 0 when none came
};

// Opens the session, the connection and the request, sends it once, reads
// the answer once and throws it away, and closes everything.
PostResult sendPost(const PostRequest& request);
