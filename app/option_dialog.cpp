#include "option_dialog.h"

#include <uxtheme.h>

#include "../res/resource.h"
#include "app.h"
#include "credentials.h"
#include "notice.h"
#include "settings.h"

bool isXpOrLater() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof version == 148, "the size field the version query expects");
    GetVersionExA(&version);
    return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

namespace {

// Set by OK when the settings file could not be written; told once the
// dialog has closed.
bool g_notSaved;

// Reads a box as typed, in UTF-16, into the ANSI code page the file and the
// service get, cut to 255 bytes. False when the code page cannot hold every
// character: the ANSI read would put look-alikes or "?" in their place.
bool readBox(HWND hDlg, int id, char (&value)[kCredentialSize]) {
    WCHAR wide[kCredentialSize] = {};
    GetDlgItemTextW(hDlg, id, wide, kCredentialSize);
    // A UTF-16 unit takes at most three bytes in any ANSI code page.
    char ansi[3 * kCredentialSize] = {};
    BOOL lost = FALSE;
    // UTF-8 holds every character, and the loss check is refused for it.
    bool utf8 = GetACP() == CP_UTF8;
    WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi, NULL,
                        utf8 ? NULL : &lost);
    lstrcpynA(value, ansi, kCredentialSize);
    return !lost;
}

void onInitDialog(HWND hDlg) {
    if (isXpOrLater())
        EnableThemeDialogTexture(hDlg, ETDT_ENABLETAB);
    char username[kCredentialSize];
    char password[kCredentialSize];
    copyCredentials(0, username, password);
    SetDlgItemTextA(hDlg, IDC_USERNAME, username);
    SetDlgItemTextA(hDlg, IDC_PASSWORD, password);
}

// A pair the code page cannot hold is not taken: the box is masked, and the
// user would never see why every update is then refused.
void onOk(HWND hDlg) {
    char username[kCredentialSize];
    char password[kCredentialSize];
    bool usernameHeld = readBox(hDlg, IDC_USERNAME, username);
    bool passwordHeld = readBox(hDlg, IDC_PASSWORD, password);
    if (!usernameHeld || !passwordHeld) {
        tellCharactersNotStorable(hDlg, !usernameHeld, !passwordHeld);
        return;
    }
    // From here on every mood goes with the new pair: the session of the
    // old one is dropped, and a refusal of it forgotten (bluesky_session.h).
    g_notSaved = !saveCredentials(username, password);
    EndDialog(hDlg, IDOK);
}

}  // namespace

INT_PTR CALLBACK optionDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        onInitDialog(hDlg);
    } else if (message == WM_COMMAND) {
        if (LOWORD(wParam) == IDOK)
            onOk(hDlg);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, IDCANCEL);
    }
    return FALSE;
}

INT_PTR showOptionDialog() {
    INT_PTR result = DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_OPTION), NULL, optionDlgProc, 0);
    // Taken before the notice shows: another dialog may be confirmed meanwhile.
    if (result == IDOK && g_notSaved) {
        g_notSaved = false;
        tellAccountNotSaved();
    }
    return result;
}
