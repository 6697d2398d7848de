#include "poster.h"

#include "../app/app.h"
#include "post_ways.h"
#include "service.h"

DWORD WINAPI postStatusThreadProc(LPVOID text) {
    const char* mood = static_cast<const char*>(text);
    PostResult result = {kNotReached, 0, 0};
    bool posted = g_service.way == kMastodon  ? postToMastodon(mood, result)
                  : g_service.way == kBluesky ? postToBluesky(mood, result)
                                              : postStatusUpdate(mood, result);
    GlobalFree(text);
    // By value: nothing of this thread's outlives it.
    if (posted)
        PostMessageA(g_mainWindow, WM_POSTOUTCOME, result.outcome, static_cast<LPARAM>(result.status));
    return 0;
}
