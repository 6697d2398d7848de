// Starts status posters the way the link does, for the tests: credentials and
// texts come hex-encoded on the command line (so any byte can be given), one
// poster thread per text, all started at once, to the service address given
// first, if any. Unlike the program, it waits for them, and reports whether
// every one ended and how each post ended, as the main window would be told:
// "outcome KIND STATUS", in the order the posters finished.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../app/app.h"
#include "../app/credentials.h"
#include "../poster/bluesky_session.h"
#include "../poster/poster.h"
#include "../poster/service.h"

static std::string fromHex(const char* hex) {
    std::string out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        out += static_cast<char>(strtoul(pair, NULL, 16));
    }
    return out;
}

// One poster, to the one account, as the link starts it.
static DWORD WINAPI postOne(LPVOID text) {
    postToAccount(0, static_cast<const char*>(text));
    GlobalFree(text);
    return 0;
}

int main(int argc, char** argv) {
    setServiceAddress(0, "");
    if (argc > 2 && strcmp(argv[1], "--service") == 0) {
        if (setServiceAddress(0, argv[2]) != kServiceUsable) {
            printf("unusable\n");
            return 4;
        }
        argc -= 2;
        argv += 2;
    }
    if (argc < 5) {
        fprintf(stderr, "usage: post_driver [--service ADDRESS] WAIT_MS USER_HEX PASSWORD_HEX TEXT_HEX...\n");
        return 2;
    }
    DWORD waitMs = strtoul(argv[1], NULL, 10);
    // Stands in for the main window, which each poster tells how it ended.
    g_mainWindow = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    initCredentials();
    initSession();
    storeCredentials(fromHex(argv[2]).c_str(), fromHex(argv[3]).c_str());
    std::vector<HANDLE> posters;
    for (int i = 4; i < argc; ++i) {
        std::string text = fromHex(argv[i]);
        char* block = static_cast<char*>(GlobalAlloc(GMEM_ZEROINIT, text.size() + 1));
        memcpy(block, text.data(), text.size());
        posters.push_back(CreateThread(NULL, 0, postOne, block, 0, NULL));
    }
    DWORD result = WaitForMultipleObjects(static_cast<DWORD>(posters.size()), posters.data(), TRUE, waitMs);
    int ended = 0;
    for (HANDLE h : posters)
        ended += WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    const char* const kinds[] = {"posted", "account", "identity", "unreached", "other"};
    MSG msg;
    while (PeekMessageA(&msg, g_mainWindow, WM_POSTOUTCOME, WM_POSTOUTCOME, PM_REMOVE))
        printf("outcome %s %lu\n", msg.wParam < 5 ? kinds[msg.wParam] : "?", static_cast<unsigned long>(msg.lParam));
    printf("ended %d of %d\n", ended, static_cast<int>(posters.size()));
    fflush(stdout);
    return result == WAIT_TIMEOUT ? 3 : 0;
}
