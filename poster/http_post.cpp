#include "http_post.h"

#include <wininet.h>
#include <cstring>

#include "../app/app.h"
#include "form_encode.h"
#include "service.h"

namespace {

// Reads the response body once and throws it away. The length comes from the
// Content-Length header; a missing or odd one reads nothing (see
// responseReadSize), so the read never goes past what was allocated.
void discardResponse(HINTERNET request) {
    char lengthText[80] = {};
    DWORD size = sizeof lengthText;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, lengthText, &size, NULL))
        size = 0;
    long n = responseReadSize(lengthText, size < sizeof lengthText ? size : 0);
    if (n <= 0)
        return;
    void* block = GlobalAlloc(GMEM_ZEROINIT, static_cast<SIZE_T>(n));
    if (!block)
        return;
    DWORD read = 0;
    InternetReadFile(request, block, static_cast<DWORD>(n), &read);
    GlobalFree(block);
}

// Reads the body until the HTTP client has no more of it or the room is
// full: an answer may come in chunks, with no length told beforehand.
DWORD readAnswer(HINTERNET request, char* answer, DWORD room) {
    DWORD used = 0;
    DWORD read = 0;
    while (used < room && InternetReadFile(request, answer + used, room - used, &read) && read)
        used += read;
    return used;
}

// On the session, whose connection and request take them over, and on the
// request itself, so that no handle of it keeps the client's own defaults.
void setTimeouts(HINTERNET handle) {
    DWORD timeout = kRequestTimeoutMs;
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

void setCredential(HINTERNET request, DWORD option, const char* value) {
    InternetSetOptionA(request, option, const_cast<char*>(value), static_cast<DWORD>(strlen(value)));
}

}  // namespace

PostResult sendPost(unsigned account, const PostRequest& post) {
    return sendRequest(account, "POST", post);
}

PostResult sendRequest(unsigned account, const char* method, const PostRequest& post) {
    const ServiceAddress& service = g_services[account];
    HINTERNET session = InternetOpenA(kProgramName, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    setTimeouts(session);
    HINTERNET connection = InternetConnectA(session, service.host, service.port, NULL, NULL,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"*/*", NULL};
    // Without a name and password of ours, no challenge is answered at all:
    // not with the Windows logon either, which the HTTP client would offer
    // a server or proxy that asks for it.
    DWORD flags = service.flags | (post.username ? 0 : INTERNET_FLAG_NO_AUTH);
    HINTERNET request = HttpOpenRequestA(connection, method, post.path ? post.path : service.path, NULL, NULL,
                                         accept, flags, 0);
    setTimeouts(request);
    if (post.username) {
        setCredential(request, INTERNET_OPTION_USERNAME, post.username);
        setCredential(request, INTERNET_OPTION_PASSWORD, post.password);
    }
    PostResult result = {kNotReached, 0, 0};
    DWORD sendError = 0;
    if (HttpSendRequestA(request, post.headers, post.headersLength, const_cast<char*>(post.body), post.bodyLength)) {
        DWORD size = sizeof result.status;
        HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &result.status, &size, NULL);
    } else {
        sendError = GetLastError();
    }
    if (post.answer)
        result.answerSize = readAnswer(request, post.answer, post.answerRoom);
    else
        discardResponse(request);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    result.outcome = postOutcome(sendError, result.status);
    return result;
}
