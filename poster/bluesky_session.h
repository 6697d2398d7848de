// A session with an AT Protocol server for each account, shared by the
// posters to that account alone: made when the first mood needs it, kept in
// memory only, renewed when the server no longer takes its token, and
// dropped when the account's pair changes. What befalls one account's
// session (a refusal, a wait) touches no other's.
#pragma once

#include "http_post.h"
#include "session_rules.h"

// Must run once on the main thread before any poster starts.
void initSession();

// The session and any refusal belong to the pair they were had with: once
// another pair is stored (credentials.h), they are dropped.
//
// Copies the session of the account (an index into g_services) into tokens, making it first when there is none, or
// renewing it when `stale` (an access token the server refused, or null) is
// still the one held. Posters that come while an attempt is on the network
// wait for it, at most as long as it may take, and share its result where it
// was had with the pair they would ask with. False, with how it failed in
// failure, when there is no session to post with: after the server refused
// the pair, until another pair is stored, no attempt is made and each poster
// is told so again.
bool takeSession(unsigned account, SessionTokens& tokens, const char* stale, PostResult& failure);

// Header lines (each ended by CR LF) and "Authorization: Bearer TOKEN" after
// them; the token is one isHeaderToken took. Returns the length.
constexpr unsigned kBearerHeadersRoom = 128 + kTokenMax;
DWORD bearerHeaders(char (&headers)[kBearerHeadersRoom], const char* lines, const char* token);
