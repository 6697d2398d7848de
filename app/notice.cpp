#include "notice.h"

#include "app.h"

namespace {

void show(HWND owner, const WCHAR* text) {
    MessageBoxW(owner, text, kProgramNameW, MB_OK | MB_ICONWARNING);
}

}  // namespace

void tellServiceUnusable(const char* address) {
    WCHAR value[256] = {};
    MultiByteToWideChar(CP_ACP, 0, address, -1, value, 256);
    // At most 259 + 255 characters of arguments: well inside the 1024 that
    // wsprintfW writes.
    WCHAR text[1024];
    wsprintfW(text,
              L"The settings file\n\n%s\n\nnames the status service \"%s\", which is not an http or https "
              L"address that Moodshuttle can use. Moodshuttle has posted nothing and will end now.\n\n"
              L"Correct the service line, or remove it to post to the usual service, and start "
              L"Moodshuttle again.",
              g_settingsPath, value);
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
