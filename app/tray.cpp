#include "tray.h"

#include <shellapi.h>

#include "../poster/service.h"
#include "../res/resource.h"
#include "app.h"
#include "balloon_rules.h"
#include "credentials.h"
#include "message_filter.h"
#include "mood_dialog.h"
#include "option_dialog.h"

namespace {

const UINT kTrayIconId = 1001;
const UINT WM_TRAYICON = WM_APP + 1;

// Runs while the taskbar has refused our icon, to offer it again each second.
const UINT_PTR kTrayRetryTimerId = 1;
const UINT kTrayRetryMs = 1000;

// Runs while a balloon is shown, so that a failure of another account waits
// its turn rather than taking the balloon's place: the shell shows one
// balloon at a time and tells nothing of the one it replaced. As long as a
// balloon shows at the least, on every Windows.
const UINT_PTR kBalloonTimerId = 2;
const UINT kBalloonMs = 10000;

// Registered when the main window is created; the shell broadcasts it when
// the taskbar comes back after a restart, and our icon must then be added again.
UINT g_taskbarCreated;

// Whether the taskbar has our icon: a balloon needs it. Failures of updates
// told and still to tell, each account's own; the account whose balloon is
// showing, and whether one is. All main thread only.
bool g_iconShown;
FailureTelling g_telling[kMaxAccounts];
unsigned g_balloonAccount;
bool g_balloonShowing;

// The icon's image for the notification area, once loaded; main thread only.
HICON g_trayIcon;

// The size older shells know; newer headers give a larger structure.
const DWORD kTrayDataSize = NOTIFYICONDATAA_V3_SIZE;
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V3_SIZE == 504, "tray data size of the 32-bit shell");
#endif

NOTIFYICONDATAA iconData(UINT flags) {
    NOTIFYICONDATAA data = {};
    data.cbSize = kTrayDataSize;
    data.hWnd = g_mainWindow;
    data.uID = kTrayIconId;
    data.uFlags = flags;
    return data;
}

// Shows a failure waiting to be told as a balloon on the icon, once the icon
// is there; until then, or if the taskbar does not take it, it waits. An
// account's failure replaces its own balloon, as ever; another account's
// waits until that balloon has had its time, and accounts take turns in
// their order.
void tellWaitingFailure() {
    if (!g_iconShown)
        return;
    for (unsigned account = 0; account < g_accountCount; ++account) {
        FailureTelling& telling = g_telling[account];
        if (telling.waiting == kPosted || (g_balloonShowing && account != g_balloonAccount))
            continue;
        NOTIFYICONDATAA data = iconData(NIF_INFO);
        const ServiceAddress& service = g_services[account];
        char username[kCredentialSize];
        char password[kCredentialSize];
        copyCredentials(account, username, password);
        balloonText(data.szInfo, telling, service.host, service.way, username, g_accountSections[account]);
        lstrcpynA(data.szInfoTitle, kProgramName, sizeof data.szInfoTitle);
        data.dwInfoFlags = NIIF_WARNING;
        if (Shell_NotifyIconA(NIM_MODIFY, &data)) {
            markTold(telling);
            g_balloonAccount = account;
            g_balloonShowing = true;
            SetTimer(g_mainWindow, kBalloonTimerId, kBalloonMs, NULL);
        }
        return;
    }
}

// The icon's image of the size the notification area draws (16 x 16 at
// 100 %, 32 x 32 at 200 %), which LoadIconA's 32 x 32 is not: the shell
// would shrink that. Loaded once, for every offer and the life of the program.
HICON trayIcon() {
    if (!g_trayIcon)
        g_trayIcon = static_cast<HICON>(LoadImageA(g_instance, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                   LR_DEFAULTCOLOR));
    return g_trayIcon;
}

LRESULT onCreate(HWND hWnd) {
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    // Explorer runs below an elevated copy; its broadcast must still get in.
    allowFromLowerIntegrity(hWnd, g_taskbarCreated);
    return 0;
}

LRESULT onCommand(WPARAM wParam) {
    if (LOWORD(wParam) == IDM_EXIT)
        PostQuitMessage(0);
    else if (LOWORD(wParam) == IDM_MOOD)
        showMoodDialog();
    else if (LOWORD(wParam) == IDM_SETTING && showOptionDialog() == IDOK)
        forgetTold(g_telling[0]);  // a refusal of the new account is news; the others are unchanged
    return 0;
}

LRESULT onTimer(WPARAM id) {
    if (id == kBalloonTimerId) {
        KillTimer(g_mainWindow, kBalloonTimerId);
        g_balloonShowing = false;
        tellWaitingFailure();
    } else {
        addTrayIcon();
    }
    return 0;
}

LRESULT onPostOutcome(WPARAM wParam, LPARAM lParam) {
    unsigned account = HIWORD(wParam);
    if (account >= g_accountCount)
        return 0;
    noteOutcome(g_telling[account], LOWORD(wParam), static_cast<unsigned long>(lParam));
    tellWaitingFailure();
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
        return onTimer(wParam);
    if (message == g_taskbarCreated && g_taskbarCreated != 0)
        addTrayIcon();
    else if (message == WM_TRAYICON)
        return onTrayIcon(hWnd, wParam, lParam);
    else if (message == WM_POSTOUTCOME)
        return onPostOutcome(wParam, lParam);
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

void addTrayIcon() {
    NOTIFYICONDATAA data = iconData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = trayIcon();
    lstrcpynA(data.szTip, kProgramName, sizeof data.szTip);
    // At a busy log-on the taskbar can be there and still not answer in time,
    // and no "TaskbarCreated" follows; without the icon there would be no way
    // to Setting or Exit, so offer it again each second until it is taken. An
    // add that timed out may still have been done: then the icon answers a
    // modify, and adding it again would only fail.
    g_iconShown = Shell_NotifyIconA(NIM_ADD, &data) || Shell_NotifyIconA(NIM_MODIFY, &data);
    if (g_iconShown) {
        KillTimer(g_mainWindow, kTrayRetryTimerId);
        tellWaitingFailure();
    } else {
        SetTimer(g_mainWindow, kTrayRetryTimerId, kTrayRetryMs, NULL);
    }
}

void removeTrayIcon() {
    NOTIFYICONDATAA data = iconData(0);
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
