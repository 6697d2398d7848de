// The smallest program that puts text into an edit box from its own process,
// as the Option dialog does when it opens with a stored name, and that asks
// for a device context to draw in. Exit code 0 when both work; a crash or 1
// means this Wine cannot do them for this build.
//
// Wine 8.0's experimental WoW64 mode (a 32-bit program under the 64-bit
// loader) cannot reach a device context's attributes from 32-bit code:
// SelectObject and CreateCompatibleDC fail and text metrics come back empty.
// So a 32-bit program draws no icon image, no menu item and no dialog text,
// and the edit control's text measuring reads a null pointer inside the
// platform's script shaping (ScriptString_pSize, read at 0x68) and crashes.
// The x86-64 build of this same program works. The system tests run it first
// and skip, on that build only, the checks that need drawing.
#include <windows.h>

namespace {

const int kEditId = 100;

INT_PTR CALLBACK checkDlgProc(HWND hDlg, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return FALSE;
    SetDlgItemTextA(hDlg, kEditId, "alice");
    char back[16] = "";
    GetDlgItemTextA(hDlg, kEditId, back, sizeof back);
    EndDialog(hDlg, lstrcmpA(back, "alice") == 0 ? 1 : 2);
    return TRUE;
}

}  // namespace

int main() {
    // A dialog with one edit box, built in memory: DWORD-aligned template,
    // no menu, default class, no title; then the item, class 0x0081 (edit).
    alignas(4) WORD buffer[64] = {};
    DLGTEMPLATE* dialog = reinterpret_cast<DLGTEMPLATE*>(buffer);
    dialog->style = WS_POPUP | WS_CAPTION;
    dialog->cdit = 1;
    dialog->cx = 100;
    dialog->cy = 40;
    WORD* p = reinterpret_cast<WORD*>(dialog + 1) + 3;
    p += (reinterpret_cast<UINT_PTR>(p) & 2) ? 1 : 0;
    DLGITEMTEMPLATE* item = reinterpret_cast<DLGITEMTEMPLATE*>(p);
    item->style = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
    item->x = 5;
    item->y = 5;
    item->cx = 90;
    item->cy = 12;
    item->id = kEditId;
    p = reinterpret_cast<WORD*>(item + 1);
    p[0] = 0xFFFF;
    p[1] = 0x0081;
    HDC memory = CreateCompatibleDC(NULL);
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(NULL), dialog, NULL, checkDlgProc, 0);
    return memory && result == 1 ? 0 : 1;
}
