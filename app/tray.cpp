#include "tray.h"

#include <shellapi.h>

#include "../res/resource.h"
#include "app.h"
#include "message_filter.h"
#include "option_dialog.h"

namespace {

const UINT kTrayIconId = 1001;
const UINT WM_TRAYICON = WM_APP + 1;

// Runs while the taskbar has refused our icon, to offer it again each second.
const UINT_PTR kTrayRetryTimerId = 1;
const UINT kTrayRetryMs = 1000;

// Registered when the main window is created; the shell broadcasts it when
// the taskbar comes back after a restart, and our icon must then be added again.
UINT g_taskbarCreated;

// The size older shells know; newer headers give a larger structure.
const DWORD kTrayDataSize = NOTIFYICONDATAA_V3_SIZE;
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V3_SIZE == 504, "tray data size of the 32-bit shell");
#endif

LRESULT onCreate(HWND hWnd) {
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    // Explorer runs below an elevated copy; its broadcast must still get in.
    allowFromLowerIntegrity(hWnd, g_taskbarCreated);
    return 0;
}

LRESULT onCommand(WPARAM wParam) {
    if (LOWORD(wParam) == IDM_EXIT)
        PostQuitMessage(0);
    else if (LOWORD(wParam) == IDM_SETTING)
        showOptionDialog();
    return 0;
}

LRESULT onTimer() {
    addTrayIcon();
    return 0;
}

LRESULT onTrayIcon(HWND hWnd, WPARAM wParam, LPARAM lParam) {
    if (wParam == kTrayIconId && (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN))
        showTrayMenu(hWnd);
    return 1;
}

}  // namespace

bool registerMainWindowClass() {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWndProc;
    wc.hInstance = g_instance;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.lpszClassName = kProgramName;
    return RegisterClassA(&wc) != 0;
}

HWND createMainWindow() {
    HWND hWnd = CreateWindowExA(0, kProgramName, kProgramName, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL, NULL,
                                g_instance, NULL);
    ShowWindow(hWnd, SW_HIDE);
    UpdateWindow(hWnd);
    return hWnd;
}

LRESULT CALLBACK mainWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE)
        return onCreate(hWnd);
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_COMMAND)
        return onCommand(wParam);
    if (message == WM_TIMER)
        return onTimer();
    if (message == g_taskbarCreated && g_taskbarCreated != 0)
        addTrayIcon();
    else if (message == WM_TRAYICON)
        return onTrayIcon(hWnd, wParam, lParam);
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

void addTrayIcon() {
    NOTIFYICONDATAA data = {};
    data.cbSize = kTrayDataSize;
    data.hWnd = g_mainWindow;
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_MAIN));
    lstrcpynA(data.szTip, kProgramName, sizeof data.szTip);
    // At a busy log-on the taskbar can be there and still not answer in time,
    // and no "TaskbarCreated" follows; without the icon there would be no way
    // to Setting or Exit, so offer it again each second until it is taken. An
    // add that timed out may still have been done: then the icon answers a
    // modify, and adding it again would only fail.
    if (Shell_NotifyIconA(NIM_ADD, &data) || Shell_NotifyIconA(NIM_MODIFY, &data))
        KillTimer(g_mainWindow, kTrayRetryTimerId);
    else
        SetTimer(g_mainWindow, kTrayRetryTimerId, kTrayRetryMs, NULL);
}

void removeTrayIcon() {
    NOTIFYICONDATAA data = {};
    data.cbSize = kTrayDataSize;
    data.hWnd = g_mainWindow;
    data.uID = kTrayIconId;
    Shell_NotifyIconA(NIM_DELETE, &data);
}

void showTrayMenu(HWND hWnd) {
    HMENU menu = LoadMenuA(g_instance, MAKEINTRESOURCEA(IDM_TRAY));
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor;
    // While another desktop (a secure one) has the input there is no cursor
    // position; the last message's position is where the click was.
    if (!GetCursorPos(&cursor)) {
        DWORD at = GetMessagePos();
        cursor.x = static_cast<short>(LOWORD(at));
        cursor.y = static_cast<short>(HIWORD(at));
    }
    // Without this the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(hWnd);
    TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, hWnd, NULL);
    // Windows asks for a harmless message after a notification icon's menu:
    // without it, the next showing may appear and vanish at once.
    PostMessageA(hWnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}
