// What the user is told of updates that did not get through, and when: no
// Win32 here, so this also builds natively for tests.
#pragma once
#include <cstddef>

#include "../poster/post_outcome.h"
#include "../poster/service_rules.h"

// Failures told and the one still to tell; the main window's alone.
struct FailureTelling {
    unsigned told;                // a bit per kind told since an update last got through
    PostOutcome waiting;          // a failure not told yet; kPosted when none
    unsigned long waitingStatus;  // its status code, for an other answer
};

// Takes how one update ended. One that got through forgets every failure,
// told or waiting: nothing is told while updates get through. A failure of
// a kind not told since then waits to be told, in place of any other that
// waits. Outcomes that are no kind of ours are ignored.
void noteOutcome(FailureTelling& telling, unsigned long outcome, unsigned long status);

// Marks the waiting failure told, once it has been shown.
void markTold(FailureTelling& telling);

// Lets every kind be told again, as after the account was changed.
void forgetTold(FailureTelling& telling);

// The balloon's text for the waiting failure, naming the host posted to and
// what the account there is, by the way posted; "" when none waits. The
// shell takes at most this much, terminator included. `number` is the
// account's section: 0 for the first, whose balloon names the host alone and
// sends the user to the Option dialog; 1 to 8 for "Moodshuttle 2" to "9",
// whose balloon names the account as its user knows it, "username at host",
// cut with "..." to fit, and a refusal says which section of the settings
// file to correct. username and host hold at most 255 bytes each.
constexpr std::size_t kBalloonTextSize = 256;
void balloonText(char (&text)[kBalloonTextSize], const FailureTelling& telling, const char* host, PostingWay way,
                 const char* username = "", unsigned number = 0);
