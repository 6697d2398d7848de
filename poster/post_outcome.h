// How one status update ended, as the main window is told it: no Win32 here,
// so this also builds natively for tests.
#pragma once

enum PostOutcome : unsigned {
    kPosted,            // answered in the 2xx range
    kAccountRefused,    // answered 401 or 403
    kIdentityRejected,  // the server's certificate was not accepted: nothing was sent
    kNotReached,        // no answer from the service at all
    kOtherAnswer,       // any other answer; its status code goes with it
};
constexpr unsigned kOutcomeKinds = 5;

// The status that goes with kAccountRefused when an AT Protocol server asked
// for an app password: no answer of HTTP has it.
constexpr unsigned long kAppPasswordNeededStatus = 1;

// `sendError` is the HTTP client's error when the request could not be sent,
// 0 when it was; `status` is then the answer's status code.
PostOutcome postOutcome(unsigned long sendError, unsigned long status);
