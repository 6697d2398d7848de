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

// A further section's account: named "username at host", cut with "..." to
// leave room for the rest, and sent to its section of the file, never to the
// Option dialog, which holds only the first account.
TEST(BalloonText, AFurtherAccountIsNamedAndSentToItsSection) {
    const std::string longUser(255, 'u'), longHost(255, 'h');
    const struct {
        PostOutcome outcome;
        unsigned long status;
        const char* username;
        const char* host;
        PostingWay way;
        unsigned number;
        const char* holds;  // and nothing of the Option dialog
        bool cut;
    } cases[] = {
        {kAccountRefused, 401, "bob", "h.example", kStatusUpdate, 1,
         "bob at h.example refused the account name or password, so your mood was not posted. Correct them in the "
         "[Moodshuttle 2] section of the settings file, read again at the next start.",
         false},
        {kAccountRefused, 401, "bob", "social.example", kMastodon, 8,
         "bob at social.example refused the access token, so your mood was not posted. Paste a token made on that "
         "server into the password line in the [Moodshuttle 9] section of the settings file, read again at the "
         "next start.",
         false},
        {kAccountRefused, kAppPasswordNeededStatus, longUser.c_str(), longHost.c_str(), kBluesky, 3,
         "... wants an app password, not the account's own password, so your mood was not posted. Make one in the "
         "account's settings and enter it in the [Moodshuttle 4] section of the settings file, read again at the "
         "next start.",
         true},
        {kAccountRefused, 401, "carol.test", longHost.c_str(), kBluesky, 2,
         "... refused the handle or app password, so your mood was not posted. Correct them in the [Moodshuttle 3] "
         "section",
         true},
        {kNotReached, 0, longUser.c_str(), "h.example", kStatusUpdate, 1,
         "Moodshuttle could not reach uuu", true},
        {kOtherAnswer, 4294967295ul, "bob", longHost.c_str(), kMastodon, 1,
         "... answered with status 4294967295, so your mood was not posted.", true},
    };
    for (const auto& c : cases) {
        FailureTelling telling = {};
        noteOutcome(telling, c.outcome, c.status);
        char text[kBalloonTextSize];
        balloonText(text, telling, c.host, c.way, c.username, c.number);
        std::string shown(text);
        EXPECT_NE(shown.find(c.holds), std::string::npos) << shown;
        EXPECT_EQ(shown.find("Setting"), std::string::npos) << shown;
        EXPECT_EQ(shown.back(), '.') << shown;
        std::string name = std::string(c.username) + " at " + c.host;
        if (c.cut) {
            // Cut to fill the balloon exactly, the name alone losing bytes.
            EXPECT_EQ(shown.size(), kBalloonTextSize - 1) << shown;
            EXPECT_EQ(shown.find(name), std::string::npos) << shown;
        } else {
            EXPECT_EQ(shown.find(name), 0u) << shown;
        }
    }
}

}  // namespace
