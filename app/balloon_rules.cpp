#include "balloon_rules.h"

#include <cstring>

#include "settings_rules.h"

namespace {

// %h stands for the account's name, %c for the status code, %w for where
// the account is corrected and %b for what holds the password there.
const char* const kTexts[kOutcomeKinds] = {
    "",
    "%h refused the account name or password, so your mood was not posted. Correct them%w.",
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
    "password%b%w.";

// Where the boxes hold a handle and an app password.
const char kAppPasswordRefused[] = "%h refused the handle or app password, so your mood was not posted. Correct them%w.";
const char kAppPasswordNeeded[] =
    "%h wants an app password, not the account's own password, so your mood was not posted. Make one in "
    "the account's settings and enter it%w.";

// The first account is in the Option dialog; a further one only in its
// section of the file.
const char kFirstPlace[] = " under Setting in this icon's menu";
const char kFurtherPlace[] = " in the [Moodshuttle N] section of the settings file, read again at the next start";
const std::size_t kSectionAt = sizeof " in the [" - 1;

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

namespace {

const char* formFor(const FailureTelling& telling, PostingWay way) {
    if (telling.waiting == kAccountRefused && way == kMastodon)
        return kTokenRefused;
    if (telling.waiting == kAccountRefused && way == kBluesky)
        return telling.waitingStatus == kAppPasswordNeededStatus ? kAppPasswordNeeded : kAppPasswordRefused;
    return kTexts[telling.waiting];
}

// Writes the form with `name` (nameLength bytes, taken as it is) for %h and
// the rest as above, `section` ("Moodshuttle 2" to "9") named in the place
// of a further account and null for the first; returns the bytes written.
std::size_t render(char (&text)[kBalloonTextSize], const char* form, const char* name, std::size_t nameLength,
                   unsigned long status, const char* section) {
    Writer out = {text, 0};
    const char* place = kFirstPlace;
    const char* box = " box";
    char further[sizeof kFurtherPlace];
    if (section) {
        std::memcpy(further, kFurtherPlace, sizeof further);
        std::memcpy(further + kSectionAt, section, kSectionNameSize - 1);
        place = further;
        box = " line";
    }
    for (const char* at = form; *at; ++at) {
        const char* part = NULL;
        if (at[0] == '%' && at[1] == 'h')
            out.put(name, nameLength);
        else if (at[0] == '%' && at[1] == 'c')
            putNumber(out, status);
        else if (at[0] == '%' && at[1] == 'w')
            part = place;
        else if (at[0] == '%' && at[1] == 'b')
            part = box;
        else {
            out.put(at, 1);
            continue;
        }
        if (part)
            out.put(part, std::strlen(part));
        ++at;
    }
    text[out.used] = '\0';
    return out.used;
}

}  // namespace

void balloonText(char (&text)[kBalloonTextSize], const FailureTelling& telling, const char* host, PostingWay way,
                 const char* username, unsigned number) {
    const char* form = formFor(telling, way);
    char name[kBalloonTextSize];
    Writer named = {name, 0};
    if (!number) {
        putHost(named, host);
        render(text, form, name, named.used, telling.waitingStatus, NULL);
        return;
    }
    char section[kSectionNameSize];
    accountSectionName(section, number);
    // The rest of the text first, without the name: what room it leaves is
    // the name's, and a name that does not fit ends in "..." at its edge.
    std::size_t room = kBalloonTextSize - 1 - render(text, form, "", 0, telling.waitingStatus, section);
    std::size_t userLength = std::strlen(username);
    std::size_t hostLength = std::strlen(host);
    named.put(username, userLength);
    named.put(" at ", 4);
    named.put(host, hostLength);
    // The longest rest leaves the name over 30 bytes: room for the "...".
    if (userLength + 4 + hostLength > room) {
        named.used = room - 3;
        named.put("...", 3);
    }
    render(text, form, name, named.used, telling.waitingStatus, section);
}
