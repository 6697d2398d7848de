#include "notice.h"

#include "app.h"
#include "settings_rules.h"

namespace {

void show(HWND owner, const WCHAR* text) {
    MessageBoxW(owner, text, kProgramNameW, MB_OK | MB_ICONWARNING);
}

// How a box names a further account's section, after the file's path; the
// first account's section is named by nothing, as it always was.
void sectionWords(WCHAR (&words)[64], unsigned number) {
    words[0] = L'\0';
    if (number) {
        WCHAR section[kSectionNameSize];
        accountSectionName(section, number);
        wsprintfW(words, L"in its section [%s] ", section);
    }
}

}  // namespace

void tellServiceUnusable(unsigned number, const char* address, ServiceCheck check) {
    WCHAR value[256] = {};
    MultiByteToWideChar(CP_ACP, 0, address, -1, value, 256);
    const WCHAR* why = check == kMastodonOverHttp
                           ? L", a Mastodon server over plain http. Such a server is reached only over https, "
                             L"since its access token would otherwise travel where anyone on the way could read it"
                       : check == kBlueskyOverHttp
                           ? L", an AT Protocol server over plain http. Such a server is reached only over "
                             L"https, since the app password would otherwise travel where anyone on the way "
                             L"could read it"
                           : L", which is not an http or https address that Moodshuttle can use";
    WCHAR section[64];
    sectionWords(section, number);
    // At most 259 + 255 + 34 characters of arguments and 180 of the reason:
    // well inside the 1024 that wsprintfW writes.
    WCHAR text[1024];
    wsprintfW(text,
              L"The settings file\n\n%s\n\n%snames the status service \"%s\"%s. Moodshuttle has posted "
              L"nothing and will end now.\n\n"
              L"Correct the service line, or remove it to post to the usual service, and start "
              L"Moodshuttle again.",
              g_settingsPath, section, value, why);
    show(NULL, text);
}

void tellUsernameMissing(unsigned number) {
    WCHAR section[64];
    sectionWords(section, number);
    WCHAR text[1024];
    wsprintfW(text,
              L"The settings file\n\n%s\n\n%sgives no username, so Moodshuttle cannot post there. "
              L"Moodshuttle has posted nothing and will end now.\n\n"
              L"Add the username line to that section, or remove the section, and start Moodshuttle again.",
              g_settingsPath, section);
    show(NULL, text);
}

void tellAccountNotSaved() {
    WCHAR text[1024];
    wsprintfW(text,
              L"Moodshuttle could not save the account to its settings file:\n\n%s\n\nThe account holds only "
              L"until Moodshuttle ends. To keep it, put Moodshuttle in a folder you can write to, and enter "
              L"the account there.",
              g_settingsPath);
    show(NULL, text);
}

void tellCharactersNotStorable(HWND dialog, bool inUsername, bool inPassword) {
    const WCHAR* boxes = inUsername && inPassword ? L"username and password boxes hold"
                         : inUsername             ? L"username box holds"
                                                  : L"password box holds";
    WCHAR text[512];
    wsprintfW(text,
              L"The %s characters that this system's code page cannot store. They would be saved and sent "
              L"as other characters, so nothing has been saved.",
              boxes);
    show(dialog, text);
}
