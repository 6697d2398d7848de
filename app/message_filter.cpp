#include "message_filter.h"

void allowFromLowerIntegrity(HWND hWnd, UINT message) {
    typedef BOOL(WINAPI * ChangeFilter)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, "ChangeWindowMessageFilterEx") : NULL;
    if (!found)
        return;
    // Through the generic function type, which any function pointer may pass.
    ChangeFilter change = reinterpret_cast<ChangeFilter>(reinterpret_cast<void (*)()>(found));
    change(hWnd, message, MSGFLT_ALLOW, NULL);
}
