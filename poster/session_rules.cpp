#include "session_rules.h"

#include <cstring>

#include "json_text.h"

namespace {

// The error's name, or "" when the body names none that fits.
void errorName(const char* body, std::size_t size, char (&name)[64]) {
    if (jsonStringField(body, size, "error", name, sizeof name) != JsonField::found)
        name[0] = '\0';
}

bool isSuccess(unsigned long status) {
    return status >= 200 && status < 300;
}

// The fields of a 2xx, each checked before anything of them is kept.
bool readTokens(const char* body, std::size_t size, SessionTokens& tokens) {
    return jsonStringField(body, size, "accessJwt", tokens.access, sizeof tokens.access) == JsonField::found &&
           isHeaderToken(tokens.access) &&
           jsonStringField(body, size, "refreshJwt", tokens.refresh, sizeof tokens.refresh) == JsonField::found &&
           isHeaderToken(tokens.refresh) &&
           jsonStringField(body, size, "did", tokens.did, sizeof tokens.did) == JsonField::found &&
           std::strncmp(tokens.did, "did:", 4) == 0 && tokens.did[4] != '\0';
}

}  // namespace

bool isHeaderToken(const char* token) {
    std::size_t n = 0;
    for (; token[n]; ++n) {
        char c = token[n];
        bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
        if (!allowed || n == kTokenMax)
            return false;
    }
    return n > 0;
}

SessionAnswer readSession(unsigned long status, const char* body, std::size_t size, SessionTokens& tokens) {
    SessionAnswer answer = SessionAnswer::otherAnswer;
    if (isSuccess(status)) {
        if (readTokens(body, size, tokens))
            return SessionAnswer::made;
    } else {
        char name[64];
        errorName(body, size, name);
        if (std::strcmp(name, "AuthFactorTokenRequired") == 0)
            answer = SessionAnswer::appPasswordNeeded;
        else if (status == 401)
            answer = SessionAnswer::refused;
    }
    tokens.access[0] = tokens.refresh[0] = tokens.did[0] = '\0';
    return answer;
}

bool tokenRefused(unsigned long status, const char* body, std::size_t size) {
    if (status != 400 && status != 401)
        return false;
    char name[64];
    errorName(body, size, name);
    return std::strcmp(name, "ExpiredToken") == 0 || std::strcmp(name, "InvalidToken") == 0;
}
