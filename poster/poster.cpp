#include "poster.h"

#include "../app/app.h"
#include "post_ways.h"
#include "service.h"

void postToAccount(unsigned account, const char* mood) {
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
