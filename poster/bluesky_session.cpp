#include "bluesky_session.h"

#include <cstring>

#include "../app/credentials.h"
#include "json_text.h"
#include "service_rules.h"

namespace {

// A session's answer is a few hundred bytes and the DID document; one that
// does not fit is not one that makes a session.
const DWORD kAnswerRoom = 16 * 1024;

// An account name or password as UTF-8: each ANSI byte may become three.
const std::size_t kUtf8Room = 3 * (kCredentialSize - 1) + 1;

// The longest one attempt may take: a refreshSession and a createSession,
// each held at most as long as any request. A poster waiting for it waits no
// longer, and is told the server was not reached.
const DWORD kAttemptMostMs = 2 * kRequestMostMs;

// One lock for every account's session: it is held only between network
// calls, never across one.
CRITICAL_SECTION g_lock;

// An account's session and what is known of it. Below, `index` is the
// account (an index into g_services) and `account` the number of the pair
// it had (credentials.h), which is what a session belongs to.
struct Session {
    HANDLE attemptEnded;        // manual-reset; reset while an attempt is on the network
    // Guarded by g_lock.
    long accountHeld;           // the pair what follows belongs to
    bool making;                // a poster is asking the server for a session
    bool held;                  // tokens holds a session
    bool refused;               // the server refused this pair: ask nothing more
    bool lastMade;              // the last attempt to end made a session
    long lastAccount;           // the pair the last attempt to end gave
    unsigned long attemptsEnded;
    PostResult failure;         // how the last attempt failed
    SessionTokens tokens;
};

Session g_sessions[kMaxAccounts];

void toUtf8(const char* ansi, char (&utf8)[kUtf8Room]) {
    WCHAR wide[kCredentialSize];
    if (!MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, kCredentialSize) ||
        !WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL))
        utf8[0] = '\0';
    SecureZeroMemory(wide, sizeof wide);
}

// Asks for a new session with the account's handle and app password; account
// gets the number of the pair that was given.
PostResult createSession(unsigned index, char* answer, long& account) {
    char username[kCredentialSize];
    char password[kCredentialSize];
    account = copyCredentials(index, username, password);
    char identifier[kUtf8Room];
    char secret[kUtf8Room];
    toUtf8(username, identifier);
    toUtf8(password, secret);
    char body[2 * jsonStringSize(kUtf8Room - 1) + 32];
    std::size_t used = 0;
    jsonAppendRaw(body, sizeof body, used, "{\"identifier\":");
    jsonAppendString(body, sizeof body, used, identifier);
    jsonAppendRaw(body, sizeof body, used, ",\"password\":");
    jsonAppendString(body, sizeof body, used, secret);
    jsonAppendRaw(body, sizeof body, used, "}");
    static const char kHeaders[] = "Content-Type: application/json";
    PostRequest request = {"/xrpc/com.atproto.server.createSession", kHeaders, sizeof kHeaders - 1, body,
                           static_cast<DWORD>(used), NULL, NULL, answer, kAnswerRoom};
    PostResult result = sendPost(index, request);
    SecureZeroMemory(password, sizeof password);
    SecureZeroMemory(secret, sizeof secret);
    SecureZeroMemory(body, sizeof body);
    return result;
}

// One attempt on the network: a renewal with the refresh token where one is
// given, and a new session where there is none or the server refused it.
// account comes in as the account the refresh token is of, and goes out as
// the one whose pair made the session, when one was asked for.
SessionAnswer makeSession(unsigned index, const char* refresh, SessionTokens& made, PostResult& result, long& account) {
    char answer[kAnswerRoom];
    if (refresh) {
        char headers[kBearerHeadersRoom];
        PostRequest request = {"/xrpc/com.atproto.server.refreshSession", headers, bearerHeaders(headers, "", refresh),
                               NULL, 0, NULL, NULL, answer, kAnswerRoom};
        result = sendPost(index, request);
        if (readSession(result.status, answer, result.answerSize, made) == SessionAnswer::made)
            return SessionAnswer::made;
        if (result.status != 401 && !tokenRefused(result.status, answer, result.answerSize))
            return SessionAnswer::otherAnswer;  // not reached, say: the refresh token may still do
    }
    result = createSession(index, answer, account);
    return readSession(result.status, answer, result.answerSize, made);
}

// How a session that was not made is told: a refusal as the account's, an
// answer that made none with its code, whatever it was.
void tellFailure(SessionAnswer answer, PostResult& result) {
    if (answer == SessionAnswer::refused || answer == SessionAnswer::appPasswordNeeded) {
        result.outcome = kAccountRefused;
        result.status = answer == SessionAnswer::refused ? 401 : kAppPasswordNeededStatus;
    } else if (result.outcome == kPosted || result.outcome == kAccountRefused) {
        result.outcome = kOtherAnswer;
    }
}

}  // namespace

DWORD bearerHeaders(char (&headers)[kBearerHeadersRoom], const char* lines, const char* token) {
    lstrcpynA(headers, lines, 64);  // with the 22 bytes below and the token, well inside the room
    lstrcatA(headers, "Authorization: Bearer ");
    lstrcatA(headers, token);
    return static_cast<DWORD>(lstrlenA(headers));
}

void initSession() {
    InitializeCriticalSection(&g_lock);
    for (Session& session : g_sessions)
        session.attemptEnded = CreateEventA(NULL, TRUE, TRUE, NULL);
}

bool takeSession(unsigned index, SessionTokens& tokens, const char* stale, PostResult& failure) {
    Session& s = g_sessions[index];
    EnterCriticalSection(&g_lock);
    long account;
    for (;;) {
        account = credentialsNumber(index);
        if (s.accountHeld != account) {
            s.accountHeld = account;
            s.held = s.refused = false;
        }
        if (s.refused) {
            failure = s.failure;
            LeaveCriticalSection(&g_lock);
            return false;
        }
        if (s.held && !(stale && std::strcmp(stale, s.tokens.access) == 0)) {
            tokens = s.tokens;
            LeaveCriticalSection(&g_lock);
            return true;
        }
        if (!s.making)
            break;
        unsigned long ended = s.attemptsEnded;
        LeaveCriticalSection(&g_lock);
        DWORD waited = WaitForSingleObject(s.attemptEnded, kAttemptMostMs);
        EnterCriticalSection(&g_lock);
        if (waited != WAIT_OBJECT_0 && s.attemptsEnded == ended) {
            // Held past any request's bound: the server is not answering.
            LeaveCriticalSection(&g_lock);
            failure.outcome = kNotReached;
            failure.status = failure.answerSize = 0;
            return false;
        }
        if (s.attemptsEnded != ended && !s.lastMade && s.lastAccount == account) {
            // The attempt waited for failed with this account's own pair:
            // this mood shares its failure rather than asking the server
            // once more. One made with an earlier pair tells nothing of it.
            failure = s.failure;
            LeaveCriticalSection(&g_lock);
            return false;
        }
    }
    // This poster asks, and the others wait for it.
    char refresh[kTokenMax + 1] = "";
    if (s.held)
        std::memcpy(refresh, s.tokens.refresh, sizeof refresh);
    s.making = true;
    ResetEvent(s.attemptEnded);
    LeaveCriticalSection(&g_lock);

    PostResult result = {kPosted, 0, 0};
    SessionAnswer answer = makeSession(index, refresh[0] ? refresh : NULL, tokens, result, account);
    bool made = answer == SessionAnswer::made;
    tellFailure(answer, result);

    EnterCriticalSection(&g_lock);
    s.making = false;
    ++s.attemptsEnded;
    s.lastMade = made;
    s.lastAccount = account;
    s.failure = result;
    // Kept only for the account it was made with, and only while that is
    // still the account; a mood from before the dialog's OK is still posted
    // with it.
    if (account == credentialsNumber(index)) {
        if (s.accountHeld != account) {
            s.accountHeld = account;
            s.held = false;
        }
        if (made)
            s.tokens = tokens;
        s.held = made || s.held;
        s.refused = result.outcome == kAccountRefused;
    }
    SetEvent(s.attemptEnded);
    LeaveCriticalSection(&g_lock);
    failure = result;
    return made;
}
