// Baseline for the benchmarks: the program's status update with nothing
// around it. A hidden window takes a mood notification from any sender and
// starts one thread per mood that makes the identical request: same agent,
// proxy setting, flags, headers, credentials and body; over https to the
// host, port and path given, with the flags the program adds for an address
// of the settings' own. With --bearer it makes an AT Protocol server's
// createRecord instead, as the program does with a session it already has:
// the access token and DID are handed to it, made beforehand; a mood's
// mentions are resolved on the same server first.
//
//   bare_post USERNAME PASSWORD [HOST PORT PATH]   prints "ready HWND", then runs until killed
//   bare_post --bearer ACCESS_TOKEN DID HOST PORT PATH
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../poster/form_encode.h"
#include "../poster/post_language.h"
#include "../poster/record_body.h"

namespace {

char g_username[256];  // set once by main before the window exists
char g_password[256];
const char* g_host = "twitter.com";
INTERNET_PORT g_port = INTERNET_DEFAULT_HTTP_PORT;
const char* g_path = "/statuses/update.json";
DWORD g_flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES;

const char kMoodPrefix[] = "PROFILE MOOD_TEXT ";
const size_t kMoodPrefixLength = sizeof kMoodPrefix - 1;

const char kExtraHeaders[] =
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "X-Twitter-Client: Moodshuttle\r\n"
    "X-Twitter-Client-Version: 0.1\r\n"
    "X-Twitter-Client-URL: http://moodshuttle.example.org/moodshuttle.xml";

// For --bearer: the token and the DID, set once by main.
char g_bearerHeaders[2300];
char g_did[2100];

// One GET of resolveHandle on the same server, as the program asks it;
// the DID into did (kDidMax + 1 bytes), "" where none came.
void resolveHandle(const char* handle, std::size_t length, char* did) {
    did[0] = '\0';
    char path[300];
    snprintf(path, sizeof path, "/xrpc/com.atproto.identity.resolveHandle?handle=%.*s", static_cast<int>(length),
             handle);
    HINTERNET session = InternetOpenA("Moodshuttle", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, g_host, g_port, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"*/*", NULL};
    HINTERNET request =
        HttpOpenRequestA(connection, "GET", path, NULL, NULL, accept, g_flags | INTERNET_FLAG_NO_AUTH, 0);
    char answer[kDidMax + 64];
    DWORD read = 0, used = 0;
    if (HttpSendRequestA(request, NULL, 0, NULL, 0))
        while (used < sizeof answer && InternetReadFile(request, answer + used, sizeof answer - used, &read) && read)
            used += read;
    if (jsonStringField(answer, used, "did", did, kDidMax + 1) != JsonField::found || !isDid(did))
        did[0] = '\0';
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
}

// The program's createRecord body for the text, made the same way: its
// facets, each mention's handle resolved first (one after the other: the
// benchmarks mention one), and the display language.
DWORD recordBodyFor(char* body, const char* mood) {
    char text[statusTextSize(kBlueskyLimit)];
    bool cut = statusText(text, mood, kBlueskyLimit);
    SYSTEMTIME now;
    GetSystemTime(&now);
    char createdAt[kCreatedAtMax + 1];
    snprintf(createdAt, sizeof createdAt, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    static Facet facets[kMaxFacets];  // one mood at a time in the benchmarks
    static char dids[kMaxMentions][kDidMax + 1];
    std::size_t count = findFacets(text, facets, kMaxFacets);
    if (cut)
        count = dropFacetsFrom(facets, count, strlen(text) - 3);
    for (std::size_t i = 0, asked = 0; i < count && asked < kMaxMentions; ++i)
        if (facets[i].kind == FacetKind::mention) {
            resolveHandle(text + facets[i].valueStart, facets[i].end - facets[i].valueStart, dids[asked]);
            facets[i].did = dids[asked++];
        }
    char language[kLanguageMax + 1];
    userLanguage(language);
    RecordExtras extras = {facets, count, language};
    return static_cast<DWORD>(recordBody(body, g_did, text, createdAt, extras));
}

DWORD WINAPI postRecord(LPVOID param) {
    char* text = static_cast<char*>(param);
    HINTERNET session = InternetOpenA("Moodshuttle", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, g_host, g_port, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"*/*", NULL};
    HINTERNET request =
        HttpOpenRequestA(connection, "POST", g_path, NULL, NULL, accept, g_flags | INTERNET_FLAG_NO_AUTH, 0);
    char* body = static_cast<char*>(malloc(kRecordBodyRoom));
    DWORD length = body ? recordBodyFor(body, text) : 0;
    HttpSendRequestA(request, g_bearerHeaders, static_cast<DWORD>(strlen(g_bearerHeaders)), body, length);
    char answer[1024];
    DWORD read = 0, used = 0;
    while (used < sizeof answer && InternetReadFile(request, answer + used, sizeof answer - used, &read) && read)
        used += read;
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    free(body);
    free(text);
    return 0;
}

DWORD WINAPI post(LPVOID param) {
    char* text = static_cast<char*>(param);
    HINTERNET session = InternetOpenA("Moodshuttle", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, g_host, g_port, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"*/*", NULL};
    HINTERNET request = HttpOpenRequestA(connection, "POST", g_path, NULL, NULL, accept, g_flags, 0);
    InternetSetOptionA(request, INTERNET_OPTION_USERNAME, g_username, static_cast<DWORD>(strlen(g_username)));
    InternetSetOptionA(request, INTERNET_OPTION_PASSWORD, g_password, static_cast<DWORD>(strlen(g_password)));
    char body[kBodySize] = "status=";
    formEncode(body + 7, text, kEncodedRoom);
    strcat(body, " ");
    HttpSendRequestA(request, kExtraHeaders, sizeof kExtraHeaders - 1, body, static_cast<DWORD>(strlen(body)));
    char answer[4096];
    DWORD read = 0;
    while (InternetReadFile(request, answer, sizeof answer, &read) && read)
        ;
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    free(text);
    return 0;
}

void onMood(const COPYDATASTRUCT* data) {
    const char* bytes = static_cast<const char*>(data->lpData);
    if (!bytes || data->cbData <= kMoodPrefixLength || memcmp(bytes, kMoodPrefix, kMoodPrefixLength) != 0)
        return;
    size_t length = strnlen(bytes + kMoodPrefixLength, data->cbData - kMoodPrefixLength);
    char* text = static_cast<char*>(calloc(length + 1, 1));
    if (!text)
        return;
    memcpy(text, bytes + kMoodPrefixLength, length);
    if (HANDLE thread = CreateThread(NULL, 0, g_did[0] ? postRecord : post, text, 0, NULL))
        CloseHandle(thread);
    else
        free(text);
}

LRESULT CALLBACK windowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        onMood(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 1;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && strcmp(argv[1], "--bearer") == 0) {
        snprintf(g_bearerHeaders, sizeof g_bearerHeaders,
                 "Content-Type: application/json\r\nAuthorization: Bearer %s", argv[2]);
        snprintf(g_did, sizeof g_did, "%s", argv[3]);
        g_host = argv[4];
        g_port = static_cast<INTERNET_PORT>(atoi(argv[5]));
        g_path = argv[6];
        g_flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    } else if (argc != 3 && argc != 6) {
        fputs("usage: bare_post USERNAME PASSWORD [HOST PORT PATH]\n"
              "       bare_post --bearer ACCESS_TOKEN DID HOST PORT PATH\n", stderr);
        return 2;
    }
    if (argc == 6 && strcmp(argv[1], "--bearer") != 0) {
        g_host = argv[3];
        g_port = static_cast<INTERNET_PORT>(atoi(argv[4]));
        g_path = argv[5];
        g_flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    }
    snprintf(g_username, sizeof g_username, "%s", argv[1]);
    snprintf(g_password, sizeof g_password, "%s", argv[2]);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "MoodshuttleBenchBarePost";
    // Top-level, as the program's link window is.
    HWND window = RegisterClassA(&wc) ? CreateWindowExA(0, wc.lpszClassName, wc.lpszClassName, WS_OVERLAPPED, 0, 0,
                                                        0, 0, NULL, NULL, wc.hInstance, NULL)
                                      : NULL;
    if (!window)
        return 1;
    printf("ready %llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
