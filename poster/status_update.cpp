// The usual status-update request: the form-encoded text and one space,
// four extra header lines, the account by HTTP authentication.
#include <cstring>

#include "../app/credentials.h"
#include "form_encode.h"
#include "post_ways.h"

namespace {

// One block, sent as is: four lines, no CR LF after the last.
const char kExtraHeaders[] =
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "X-Twitter-Client: Moodshuttle\r\n"
    "X-Twitter-Client-Version: 0.1\r\n"
    "X-Twitter-Client-URL: http://moodshuttle.example.org/moodshuttle.xml";

}  // namespace

bool postStatusUpdate(unsigned account, const char* text, PostResult& result) {
    char username[kCredentialSize];
    char password[kCredentialSize];
    copyCredentials(account, username, password);
    char body[kBodySize] = "status=";
    formEncode(body + 7, text, kEncodedRoom);
    static_assert(7 + kEncodedRoom + sizeof " " <= kBodySize, "the longest encoding leaves room for the space");
    std::size_t length = strlen(body);
    memcpy(body + length, " ", sizeof " ");
    PostRequest request = {NULL, kExtraHeaders, sizeof kExtraHeaders - 1, body, static_cast<DWORD>(length + 1),
                           username, password, NULL, 0};
    result = sendPost(account, request);
    return true;
}
