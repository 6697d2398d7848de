#include "poster.h"

#include "../app/app.h"
#include "post_ways.h"
#include "service.h"

DWORD WINAPI postStatusThreadProc(LPVOID text) {
    const char* mood = static_cast<const char*>(text);
    // One account after another on this one thread: a burst to nine accounts
    // takes no more threads or stacks than a burst to one, at the price of
    // each account waiting for those before it.
    for (unsigned account = 0; account < g_accountCount; ++account) {
        PostResult result = {kNotReached, 0, 0};
        PostingWay way = g_services[account].way;
        bool posted = way == kMastodon  ? postToMastodon(account, mood, result)
                      : way == kBluesky ? postToBluesky(account, mood, result)
                                        : postStatusUpdate(account, mood, result);
        // By value: nothing of this thread's outlives it.
        if (posted)
            PostMessageA(g_mainWindow, WM_POSTOUTCOME, MAKEWPARAM(result.outcome, account),
                         static_cast<LPARAM>(result.status));
    }
    GlobalFree(text);
    return 0;
}
