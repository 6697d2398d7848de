#include "balloon_rules.h"

#include <cstring>

namespace {

// %h stands for the host, %c for the status code.
const char* const kTexts[kOutcomeKinds] = {
    "",
    "%h refused the account name or password, so your mood was not posted. Correct them under Setting in "
    "this icon's menu.",
    "Moodshuttle could not confirm that it was talking to %h: its certificate was not accepted. Nothing was "
    "sent, neither the account nor your mood.",
    "Moodshuttle could not reach %h, so your mood was not posted. Check the network connection; the next "
    "change of mood is tried afresh.",
    "%h answered with status %c, so your mood was not posted. The service may be having trouble; the next "
    "change of mood is tried afresh.",
};

// Where the password box holds an access token.
const char kTokenRefused[] =
    "%h refused the access token, so your mood was not posted. Paste a token made on that server into the "
    "password box under Setting in this icon's menu.";

// Where the boxes hold a handle and an app password.
const char kAppPasswordRefused[] =
    "%h refused the handle or app password, so your mood was not posted. Correct them under Setting in "
    "this icon's menu.";
const char kAppPasswordNeeded[] =
    "%h wants an app password, not the account's own password, so your mood was not posted. Make one in "
    "the account's settings and enter it under Setting in this icon's menu.";

// A host name may take 255 bytes; this much of it leaves room for the rest.
const std::size_t kHostShown = 64;

struct Writer {
    char* text;
    std::size_t used;

    void put(const char* part, std::size_t length) {
        std::size_t room = kBalloonTextSize - 1 - used;
        std::size_t taken = length < room ? length : room;
        std::memcpy(text + used, part, taken);
        used += taken;
    }
};

void putHost(Writer& out, const char* host) {
    std::size_t length = std::strlen(host);
    if (length <= kHostShown) {
        out.put(host, length);
    } else {
        out.put(host, kHostShown - 3);
        out.put("...", 3);
    }
}

void putNumber(Writer& out, unsigned long number) {
    char digits[20];
    std::size_t count = 0;
    do {
        digits[sizeof digits - ++count] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number);
    out.put(digits + sizeof digits - count, count);
}

}  // namespace

void noteOutcome(FailureTelling& telling, unsigned long outcome, unsigned long status) {
    if (outcome >= kOutcomeKinds)
        return;
    if (outcome == kPosted) {
        telling.told = 0;
        telling.waiting = kPosted;
    } else if (!(telling.told & (1u << outcome))) {
        telling.waiting = static_cast<PostOutcome>(outcome);
        telling.waitingStatus = status;
    }
}

void markTold(FailureTelling& telling) {
    if (telling.waiting != kPosted)
        telling.told |= 1u << telling.waiting;
    telling.waiting = kPosted;
}

void forgetTold(FailureTelling& telling) {
    telling.told = 0;
}

void balloonText(char (&text)[kBalloonTextSize], const FailureTelling& telling, const char* host, PostingWay way) {
    Writer out = {text, 0};
    const char* form = kTexts[telling.waiting];
    if (telling.waiting == kAccountRefused && way == kMastodon)
        form = kTokenRefused;
    else if (telling.waiting == kAccountRefused && way == kBluesky)
        form = telling.waitingStatus == kAppPasswordNeededStatus ? kAppPasswordNeeded : kAppPasswordRefused;
    for (const char* at = form; *at; ++at) {
        if (at[0] == '%' && at[1] == 'h') {
            putHost(out, host);
            ++at;
        } else if (at[0] == '%' && at[1] == 'c') {
            putNumber(out, telling.waitingStatus);
            ++at;
        } else {
            out.put(at, 1);
        }
    }
    text[out.used] = '\0';
}
