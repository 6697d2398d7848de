#include "post_outcome.h"

#include <algorithm>
#include <iterator>

namespace {

// WinINet's errors for a certificate that does not vouch for the server:
// not valid yet or any more, for another name, from a root not trusted, with
// other faults, revoked or not checkable for revocation, or not readable.
const unsigned long kCertificateErrors[] = {
    12037,  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
    12038,  // ERROR_INTERNET_SEC_CERT_CN_INVALID
    12045,  // ERROR_INTERNET_INVALID_CA
    12055,  // ERROR_INTERNET_SEC_CERT_ERRORS
    12056,  // ERROR_INTERNET_SEC_CERT_NO_REV
    12057,  // ERROR_INTERNET_SEC_CERT_REV_FAILED
    12169,  // ERROR_INTERNET_SEC_INVALID_CERT
    12170,  // ERROR_INTERNET_SEC_CERT_REVOKED
};

const unsigned long kProxyAuthenticationRequired = 407;

}  // namespace

PostOutcome postOutcome(unsigned long sendError, unsigned long status) {
    if (sendError) {
        if (std::find(std::begin(kCertificateErrors), std::end(kCertificateErrors), sendError) !=
            std::end(kCertificateErrors))
            return kIdentityRejected;
        // Name not resolved, connection refused, cut or timed out, and the rest.
        return kNotReached;
    }
    if (status >= 200 && status < 300)
        return kPosted;
    if (status == 401 || status == 403)
        return kAccountRefused;
    // A proxy that will not pass the request on without its own credentials
    // never reached the service; nor did an answer with no status at all.
    if (status == kProxyAuthenticationRequired || status == 0)
        return kNotReached;
    return kOtherAnswer;
}
