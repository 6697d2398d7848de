// What the platform's URL parser leaves unchecked in the service address
// the settings may name: no Win32 here, so this also builds natively for
// tests and fuzzing.
#pragma once

// Checks an absolute address, "scheme://host[:port]/path", for what the
// parser lets through: a user name or password before the host (they belong
// in the settings' own keys, not in an address), a port outside 1 to 65535
// (which it would wrap or take as 0), and blanks or control characters
// (which would break the request line). Returns the port as written, 0 when
// none is written, or -1 when the address fails any of these or has no
// "//" before its host.
long servicePort(const char* address);

// Accounts each mood goes to: the settings' own section and the further
// sections numbered 2 to 9.
constexpr unsigned kMaxAccounts = 9;

// How updates are posted, chosen by the path the address names.
enum PostingWay : unsigned {
    kStatusUpdate,  // the usual status-update request, with a name and password
    kMastodon,      // a Mastodon server's statuses, with an access token
    kBluesky,       // an AT Protocol server's records, with a handle and an app password
};

// The way for an address's path, before its query: exactly
// "/api/v1/statuses" is a Mastodon server, exactly
// "/xrpc/com.atproto.repo.createRecord" an AT Protocol server; everything
// else is the usual.
PostingWay postingWay(const char* path);

// Whether a server of this way is reached over https alone: true where the
// request carries a token or an app password that plain http would show to
// anyone on the path.
bool needsHttps(PostingWay way);

// The access token for the Authorization header, from what the password box
// holds: blanks (spaces and tabs) at both ends dropped. False, with dest
// empty, when nothing is left or what is left holds anything but visible
// ASCII: a control character would end the header, and no token has a blank
// inside or a byte above 0x7E. dest has room for all of password.
bool accessToken(char* dest, const char* password);
