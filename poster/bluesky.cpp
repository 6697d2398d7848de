// An AT Protocol server's records: the text as a post in the account's own
// repository, with the session every poster shares, its links, mentions and
// tags marked, and the user's language.
#include <cstring>

#include "bluesky_session.h"
#include "post_language.h"
#include "post_ways.h"
#include "record_body.h"

namespace {

// Errors come in a few dozen bytes; anything longer is not one we act on.
const DWORD kAnswerRoom = 1024;

// All the handles of one post are asked about together, within this long.
const DWORD kLookupDeadline = 10000;

// The time the record says it was made, in UTC, to the millisecond.
void makeCreatedAt(char (&createdAt)[kCreatedAtMax + 1]) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wsprintfA(createdAt, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
}

struct Lookups;

// One handle asked about, on a thread of its own; `did` is the poster's to
// read once `done` is set.
struct HandleLookup {
    Lookups* block;
    char handle[kHandleMax + 1];
    char did[kDidMax + 1];
    volatile LONG done;
};

// The handles of one post. A look-up still on the network at the deadline
// outlives its poster, so the block is freed by whichever of them lets go
// of it last.
struct Lookups {
    unsigned account;  // whose server is asked
    volatile LONG holders;
    // Look-ups not yet answered, and one more while the poster still starts
    // them; `answered` is set when none is left. The poster waits on it, not
    // on the threads, whose ending (every DLL told of it) takes longer.
    volatile LONG unanswered;
    HANDLE answered;
    HandleLookup each[kMaxMentions];
};

void letGo(Lookups* block) {
    if (InterlockedDecrement(&block->holders) == 0) {
        CloseHandle(block->answered);
        GlobalFree(block);
    }
}

void oneAnswered(Lookups* block) {
    if (InterlockedDecrement(&block->unanswered) == 0)
        SetEvent(block->answered);
}

// com.atproto.identity.resolveHandle on the account's own server, which
// needs no session: only a 200 with a DID in it counts.
DWORD WINAPI resolveHandleThreadProc(LPVOID param) {
    HandleLookup* lookup = static_cast<HandleLookup*>(param);
    static const char kQuery[] = "/xrpc/com.atproto.identity.resolveHandle?handle=";
    char path[sizeof kQuery + kHandleMax];
    std::memcpy(path, kQuery, sizeof kQuery - 1);
    // isQueryHandle took it: nothing to encode.
    std::memcpy(path + sizeof kQuery - 1, lookup->handle, sizeof lookup->handle);
    char answer[kDidMax + 64];
    PostRequest request = {path, NULL, 0, NULL, 0, NULL, NULL, answer, sizeof answer};
    PostResult result = sendRequest(lookup->block->account, "GET", request);
    char did[kDidMax + 1];
    if (result.status == 200 &&
        jsonStringField(answer, result.answerSize, "did", did, sizeof did) == JsonField::found && isDid(did)) {
        std::memcpy(lookup->did, did, sizeof did);
        InterlockedExchange(&lookup->done, 1);
    }
    oneAnswered(lookup->block);
    letGo(lookup->block);
    return 0;
}

bool sameHandle(const char* a, const char* b, std::size_t bLength) {
    return std::strlen(a) == bLength && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, static_cast<int>(bLength),
                                                       b, static_cast<int>(bLength)) == CSTR_EQUAL;
}

// Asks about the first kMaxMentions distinct handles the text mentions, all
// at once, and gives each mention whose handle came back in time its DID.
// The others keep a null one and stay plain. Returns the block the DIDs are
// in, for letGo once the body is made; null when nothing was asked.
Lookups* resolveMentions(unsigned account, const char* text, Facet* facets, std::size_t count) {
    Lookups* block = NULL;
    std::size_t asked = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char* handle = text + facets[i].valueStart;
        std::size_t length = facets[i].end - facets[i].valueStart;
        if (facets[i].kind != FacetKind::mention || !isQueryHandle(handle, length))
            continue;
        std::size_t known = 0;
        while (known < asked && !sameHandle(block->each[known].handle, handle, length))
            ++known;
        if (known < asked || asked == kMaxMentions)
            continue;
        if (!block) {
            block = static_cast<Lookups*>(GlobalAlloc(GMEM_ZEROINIT, sizeof(Lookups)));
            HANDLE answered = block ? CreateEventA(NULL, TRUE, FALSE, NULL) : NULL;
            if (!answered) {
                if (block)
                    GlobalFree(block);
                return NULL;
            }
            block->answered = answered;
            block->account = account;
            // This poster's own hold, and its own count while it starts look-ups,
            // before any look-up can let go or answer.
            block->holders = 1;
            block->unanswered = 1;
        }
        HandleLookup& lookup = block->each[asked];
        lookup.block = block;
        std::memcpy(lookup.handle, handle, length);
        InterlockedIncrement(&block->holders);
        InterlockedIncrement(&block->unanswered);
        HANDLE thread = CreateThread(NULL, 0, resolveHandleThreadProc, &lookup, 0, NULL);
        if (!thread) {
            oneAnswered(block);  // never the last: this poster counts too
            letGo(block);
            std::memset(lookup.handle, 0, sizeof lookup.handle);
            continue;
        }
        CloseHandle(thread);
        ++asked;
    }
    if (!block)
        return NULL;
    oneAnswered(block);
    WaitForSingleObject(block->answered, kLookupDeadline);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t k = 0; k < asked && facets[i].kind == FacetKind::mention; ++k)
            if (InterlockedCompareExchange(&block->each[k].done, 1, 1) == 1 &&
                sameHandle(block->each[k].handle, text + facets[i].valueStart, facets[i].end - facets[i].valueStart))
                facets[i].did = block->each[k].did;
    return block;
}

}  // namespace

bool postToBluesky(unsigned account, const char* mood, PostResult& result) {
    char text[statusTextSize(kBlueskyLimit)];
    bool cut = statusText(text, mood, kBlueskyLimit);
    if (isBlankText(text))
        return false;  // the user cleared their mood
    char createdAt[kCreatedAtMax + 1];
    makeCreatedAt(createdAt);
    Facet facets[kMaxFacets];
    std::size_t facetCount = findFacets(text, facets, kMaxFacets);
    if (cut)
        facetCount = dropFacetsFrom(facets, facetCount, std::strlen(text) - 3);  // where the "…" starts
    Lookups* lookups = resolveMentions(account, text, facets, facetCount);
    char language[kLanguageMax + 1];  // "" where Windows names none: then no langs
    userLanguage(language);
    RecordExtras extras = {facets, facetCount, language};
    SessionTokens tokens;
    char refused[kTokenMax + 1] = "";
    // Sent once more, with the same time, only after the server refused the
    // token as expired or not valid: then the session is renewed first.
    for (int sent = 0; sent < 2; ++sent) {
        if (!takeSession(account, tokens, refused[0] ? refused : NULL, result))
            break;
        char body[kRecordBodyRoom];
        DWORD bodyLength = static_cast<DWORD>(recordBody(body, tokens.did, text, createdAt, extras));
        char headers[kBearerHeadersRoom];
        char answer[kAnswerRoom];
        PostRequest request = {NULL, headers, bearerHeaders(headers, "Content-Type: application/json\r\n", tokens.access),
                               body, bodyLength, NULL, NULL, answer, kAnswerRoom};
        result = sendPost(account, request);
        if (!tokenRefused(result.status, answer, result.answerSize))
            break;
        std::memcpy(refused, tokens.access, sizeof refused);
    }
    if (lookups)
        letGo(lookups);
    return true;
}
