#include "poster.h"

#include <wininet.h>
#include <cstring>

#include "../app/app.h"
#include "../app/credentials.h"
#include "form_encode.h"
#include "post_outcome.h"
#include "service.h"

namespace {

// One block, sent as is: four lines, no CR LF after the last.
const char kExtraHeaders[] =
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "X-Twitter-Client: Moodshuttle\r\n"
    "X-Twitter-Client-Version: 0.1\r\n"
    "X-Twitter-Client-URL: http://moodshuttle.example.org/moodshuttle.xml";

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

}  // namespace

DWORD WINAPI postStatusThreadProc(LPVOID text) {
    HINTERNET session = InternetOpenA(kProgramName, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, g_service.host, g_service.port, NULL, NULL,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"*/*", NULL};
    HINTERNET request = HttpOpenRequestA(connection, "POST", g_service.path, NULL, NULL, accept, g_service.flags, 0);

    char username[kCredentialSize];
    char password[kCredentialSize];
    copyCredentials(username, password);
    InternetSetOptionA(request, INTERNET_OPTION_USERNAME, username, static_cast<DWORD>(strlen(username)));
    InternetSetOptionA(request, INTERNET_OPTION_PASSWORD, password, static_cast<DWORD>(strlen(password)));

    char body[kBodySize] = "status=";
    formEncode(body + 7, static_cast<const char*>(text));
    static_assert(7 + kEncodedRoom + sizeof " " <= kBodySize, "the longest encoding leaves room for the space");
    std::size_t length = strlen(body);
    memcpy(body + length, " ", sizeof " ");

    DWORD sendError = 0;
    DWORD status = 0;
    if (HttpSendRequestA(request, kExtraHeaders, sizeof kExtraHeaders - 1, body, static_cast<DWORD>(strlen(body)))) {
        DWORD size = sizeof status;
        HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL);
    } else {
        sendError = GetLastError();
    }
    discardResponse(request);

    GlobalFree(text);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    // By value: nothing of this thread's outlives it.
    PostMessageA(g_mainWindow, WM_POSTOUTCOME, postOutcome(sendError, status), static_cast<LPARAM>(status));
    return 0;
}
