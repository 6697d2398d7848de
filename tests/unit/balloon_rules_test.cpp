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
        {0, 204, kPosted},              {0, 300, kOtherAnswer},  {0, 403, kAccountRefused},
        {0, 407, kNotReached},          // the proxy wants credentials of its own
        {12037, 0, kIdentityRejected},  // a certificate out of date
        {12007, 200, kNotReached},      // the name not found; no status is looked at
    };
    for (const auto& c : cases)
        EXPECT_EQ(postOutcome(c.sendError, c.status), c.outcome) << c.sendError << " " << c.status;
}

// The kinds told of the outcomes given, each told at once as while the icon
// is there: digits are outcomes (9 none of ours, which anyone may post to
// the window), "f" an OK in the dialog.
std::string told(const char* events) {
    FailureTelling telling = {};
    std::string told;
    for (const char* e = events; *e; ++e) {
        if (*e == 'f')
            forgetTold(telling);
        else
            noteOutcome(telling, static_cast<unsigned long>(*e - '0'), 0);
        if (telling.waiting != kPosted)
            told += *e;
        markTold(telling);
    }
    return told;
}

TEST(FailureTelling, EachKindOnceUntilAPostGetsThroughOrTheAccountChanges) {
    EXPECT_EQ(told("1130131"), "1313");
    EXPECT_EQ(told("11f1991"), "11");
}

TEST(BalloonText, NamesTheHostAndWhatItRefusedAndFits) {
    const std::string longHost(255, 'h');
    const struct {
        PostOutcome outcome;
        unsigned long status;
        const char* host;
        PostingWay way;
        std::string starts;
        const char* proves;
    } cases[] = {
        {kOtherAnswer, 4294967295ul, longHost.c_str(), kStatusUpdate,
         std::string(61, 'h') + "... answered with status 4294967295,", "a long host is cut so the text fits"},
        {kAccountRefused, 401, "social.example", kMastodon, "social.example refused the access token,",
         "a Mastodon server refuses a token, not a password"},
        {kAccountRefused, 403, "twitter.com", kStatusUpdate, "twitter.com refused the account name or password,",
         "the usual service refuses the pair"},
        {kOtherAnswer, 422, "social.example", kMastodon, "social.example answered with status 422,",
         "a refused text is another answer"},
        {kAccountRefused, 401, "bsky.social", kBluesky, "bsky.social refused the handle or app password,",
         "an AT Protocol server refuses the pair it was given"},
        {kAccountRefused, kAppPasswordNeededStatus, "bsky.social", kBluesky,
         "bsky.social wants an app password, not the account's own password,",
         "the main password was given where an app password belongs"},
        {kOtherAnswer, 200, "bsky.social", kBluesky, "bsky.social answered with status 200,",
         "a 2xx without a session is an answer with its code"},
    };
    for (const auto& c : cases) {
        FailureTelling telling = {};
        noteOutcome(telling, c.outcome, c.status);
        char text[kBalloonTextSize];
        balloonText(text, telling, c.host, c.way);
        EXPECT_EQ(std::string(text).find(c.starts), 0u) << c.proves << ": " << text;
        EXPECT_EQ(std::string(text).back(), '.') << c.proves << ": " << text;
    }
}

}  // namespace
