#include "settings.h"

#include "app.h"
#include "credentials.h"
#include "settings_rules.h"

namespace {

// Read with room for the quotation marks a value may be wrapped in, so that
// they do not count against its 255 bytes; storing cuts it to 255.
void readValue(const char* key, char (&value)[kQuotedValueSize]) {
    if (g_settingsPath[0])
        GetPrivateProfileStringA(kProgramName, key, "", value, sizeof value, g_settingsPath);
}

void writeValue(const char* key, const char* value) {
    char text[kQuotedValueSize];
    profileValueToWrite(text, value);
    if (g_settingsPath[0])
        WritePrivateProfileStringA(kProgramName, key, text, g_settingsPath);
}

}  // namespace

void deriveSettingsPath() {
    DWORD length = GetModuleFileNameA(NULL, g_settingsPath, MAX_PATH);
    settingsPathFromModulePath(g_settingsPath, length, MAX_PATH);
}

void loadCredentials() {
    char username[kQuotedValueSize] = {};
    char password[kQuotedValueSize] = {};
    readValue("username", username);
    readValue("password", password);
    storeCredentials(username, password);
}

void saveCredentials(const char* username, const char* password) {
    storeCredentials(username, password);
    writeValue("username", username);
    writeValue("password", password);
}
