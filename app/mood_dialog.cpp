#include "mood_dialog.h"

#include <uxtheme.h>

#include "../link/link.h"
#include "../link/link_text.h"
#include "../poster/service.h"
#include "../poster/status_text.h"
#include "../res/resource.h"
#include "app.h"
#include "mood_box_rules.h"
#include "option_dialog.h"

namespace {

// All main thread only. The dialog while it is open, else null.
HWND g_moodDialog;
// The box's text as last kept, to tell what an edit put in.
WCHAR g_kept[kMoodBytesMax + 1];
std::size_t g_keptCount;

// Every UTF-16 unit takes at least one byte of UTF-8, so a box of this many
// units may still hold too many bytes, never too few.
const int kBoxUnits = static_cast<int>(kMoodBytesMax);

void toUtf8(const WCHAR* wide, char (&utf8)[kMoodBytesMax + 1]) {
    utf8[0] = '\0';
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL);
    utf8[kMoodBytesMax] = '\0';
}

// Keeps the box within the bytes the link keeps of any mood: what an edit
// puts in beyond them is dropped, with a beep, as a box's own limit drops it.
// Then the line under the box and the Post button follow the text.
void onMoodChange(HWND hDlg) {
    HWND box = GetDlgItem(hDlg, IDC_MOOD);
    WCHAR text[kMoodBytesMax + 1] = {};
    std::size_t count = static_cast<std::size_t>(GetWindowTextW(box, text, kBoxUnits + 1));
    std::size_t caret = 0;
    std::size_t fitted = fitTypedText(g_kept, g_keptCount, text, count, kMoodBytesMax, caret);
    // Kept before the box changes: the change comes back here at once.
    lstrcpynW(g_kept, text, kBoxUnits + 1);
    g_keptCount = fitted;
    if (fitted != count) {
        SetWindowTextW(box, text);
        SendMessageW(box, EM_SETSEL, caret, static_cast<LPARAM>(caret));
        MessageBeep(MB_OK);
    }
    char utf8[kMoodBytesMax + 1];
    toUtf8(text, utf8);
    EnableWindow(GetDlgItem(hDlg, IDOK), !isBlankText(utf8));
    char line[kMoodCounterSize];
    moodCounterLine(line, utf8, g_services[0].way);
    WCHAR wideLine[kMoodCounterSize] = {};
    MultiByteToWideChar(CP_UTF8, 0, line, -1, wideLine, kMoodCounterSize);
    SetDlgItemTextW(hDlg, IDC_MOOD_LEFT, wideLine);
}

void onInitDialog(HWND hDlg) {
    g_moodDialog = hDlg;
    if (isXpOrLater())
        EnableThemeDialogTexture(hDlg, ETDT_ENABLETAB);
    HWND box = GetDlgItem(hDlg, IDC_MOOD);
    SendMessageW(box, EM_LIMITTEXT, kMoodBytesMax, 0);
    g_kept[0] = L'\0';
    g_keptCount = 0;
    // The last mood posted, whoever gave it, whole and selected: typing
    // replaces it. A client's bytes that are not UTF-8 show as U+FFFD.
    char last[kMoodBytesMax + 1];
    copyLastMood(last);
    WCHAR wide[kMoodBytesMax + 1] = {};
    MultiByteToWideChar(CP_UTF8, 0, last, -1, wide, kBoxUnits + 1);
    wide[kMoodBytesMax] = L'\0';
    SetWindowTextW(box, wide);
    onMoodChange(hDlg);
    SendMessageW(box, EM_SETSEL, 0, -1);
    SetFocus(box);
    // Opened from the tray menu, it must come up in front of what the user works in.
    SetForegroundWindow(hDlg);
}

// Enter reaches here even while Post is greyed.
void onPost(HWND hDlg) {
    WCHAR text[kMoodBytesMax + 1] = {};
    GetDlgItemTextW(hDlg, IDC_MOOD, text, kBoxUnits + 1);
    char utf8[kMoodBytesMax + 1];
    toUtf8(text, utf8);
    if (isBlankText(utf8))
        return;
    // Refused only while typed moods are still waiting in numbers: the text
    // stays in the box, to be posted again.
    if (!handTypedMood(utf8)) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    EndDialog(hDlg, IDOK);
}

}  // namespace

INT_PTR CALLBACK moodDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        onInitDialog(hDlg);
    } else if (message == WM_COMMAND) {
        if (LOWORD(wParam) == IDC_MOOD && HIWORD(wParam) == EN_CHANGE)
            onMoodChange(hDlg);
        else if (LOWORD(wParam) == IDOK)
            onPost(hDlg);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, IDCANCEL);
    }
    return FALSE;
}

void showMoodDialog() {
    if (g_moodDialog) {
        SetForegroundWindow(g_moodDialog);
        return;
    }
    // The wide dialog runs its own wide loop: the main loop's ANSI one would
    // turn every character outside the code page into "?".
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_MOOD), NULL, moodDlgProc, 0);
    g_moodDialog = NULL;
}
