// The ways of posting a mood, one file each, over sendPost, each to one
// account (an index into g_services). Each returns false when the mood holds
// nothing to post, and then nothing is told.
#pragma once

#include "http_post.h"

// The usual status-update request, with the account name and password.
bool postStatusUpdate(unsigned account, const char* text, PostResult& result);

// A Mastodon server's statuses, with the access token from the password box.
bool postToMastodon(unsigned account, const char* text, PostResult& result);

// An AT Protocol server's records, with a session made from the handle and
// the app password.
bool postToBluesky(unsigned account, const char* text, PostResult& result);
