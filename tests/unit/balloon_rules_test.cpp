// How an update ended, and what of it the user is told.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../app/balloon_rules.h"

namespace {

TEST(PostOutcome, FromTheClientsErrorOrTheAnswer) {
    const struct {
        unsigned long sendError, status;
        PostOutcome outcome;
    } cases[] = {
        {0, 204, kPosted},               // any 2xx
        {0, 300, kOtherAnswer},          // just past them
        {0, 403, kAccountRefused},       // as 401
        {0, 407, kNotReached},           // the proxy wants its own credentials
        {0, 0, kNotReached},             // sent, but no status came back
        {12037, 0, kIdentityRejected},   // a certificate out of date
        {12170, 0, kIdentityRejected},   // a certificate revoked
        {12007, 200, kNotReached},       // the name not resolved; the status is not looked at
    };
    for (const auto& c : cases)
        EXPECT_EQ(postOutcome(c.sendError, c.status), c.outcome) << c.sendError << " " << c.status;
}

// Notes each outcome as the main window gets it ("p" posted, "a" account
// refused, "n" not reached, "9" no kind of ours; "f": the account changed) and tells what waits at once, as the main
// window does while its icon is there; returns the kinds told.
std::string tell(const char* events) {
    FailureTelling telling = {};
    std::string told;
    for (const char* e = events; *e; ++e) {
        if (*e == 'f')
            forgetTold(telling);
        else
            noteOutcome(telling, *e == 'p' ? 0u : *e == 'a' ? 1u : *e == 'n' ? 3u : 99u, 0);
        if (telling.waiting != kPosted)
            told += *e;
        markTold(telling);
    }
    return told;
}

TEST(FailureTelling, EachKindOnceUntilAPostGetsThroughOrTheAccountChanges) {
    EXPECT_EQ(tell("aanpan"), "anan");
    EXPECT_EQ(tell("aafa"), "aa");
    EXPECT_EQ(tell("9p9"), "");
}

TEST(BalloonText, NamesTheHostAndFitsTheShellsLimit) {
    FailureTelling telling = {};
    noteOutcome(telling, kOtherAnswer, 4294967295ul);
    char text[kBalloonTextSize];
    balloonText(text, telling, std::string(255, 'h').c_str());
    EXPECT_LT(std::strlen(text), kBalloonTextSize);
    EXPECT_EQ(std::string(text).find(std::string(61, 'h') + "... answered with status 4294967295,"), 0u) << text;
    EXPECT_EQ(std::string(text).back(), '.');
}

}  // namespace
