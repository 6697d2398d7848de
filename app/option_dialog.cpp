#include "option_dialog.h"

#include <uxtheme.h>

#include "../res/resource.h"
#include "app.h"
#include "credentials.h"
#include "settings.h"

bool isXpOrLater() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof version == 148, "the size field the version query expects");
    GetVersionExA(&version);
    return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

namespace {

void onInitDialog(HWND hDlg) {
    if (isXpOrLater())
        EnableThemeDialogTexture(hDlg, ETDT_ENABLETAB);
    char username[kCredentialSize];
    char password[kCredentialSize];
    copyCredentials(username, password);
    SetDlgItemTextA(hDlg, IDC_USERNAME, username);
    SetDlgItemTextA(hDlg, IDC_PASSWORD, password);
}

void onOk(HWND hDlg) {
    char username[kCredentialSize] = {};
    char password[kCredentialSize] = {};
    GetDlgItemTextA(hDlg, IDC_USERNAME, username, kCredentialSize);
    GetDlgItemTextA(hDlg, IDC_PASSWORD, password, kCredentialSize);
    saveCredentials(username, password);
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
    return DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_OPTION), NULL, optionDlgProc, 0);
}
