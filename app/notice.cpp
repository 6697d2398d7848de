#include "notice.h"

#include "app.h"

namespace {

void show(HWND owner, const WCHAR* text) {
    MessageBoxW(owner, text, kProgramNameW, MB_OK | MB_ICONWARNING);
}

}  // namespace

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
