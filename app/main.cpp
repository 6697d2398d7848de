// Start-up, the main loop and shutdown.
#include <windows.h>
#include <commctrl.h>

#include "../link/link.h"
#include "../poster/bluesky_session.h"
#include "../poster/service.h"
#include "app.h"
#include "credentials.h"
#include "notice.h"
#include "option_dialog.h"
#include "settings.h"
#include "tray.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
    g_instance = instance;
    // Held, never released, until the process ends: a second instance just
    // leaves. A copy running as administrator makes a mutex that a normal
    // start may not open at all, which means the same: one copy is running.
    CreateMutexA(NULL, TRUE, kProgramName);
    if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_ACCESS_DENIED)
        return 1;
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0};
    InitCommonControlsEx(&controls);
    deriveSettingsPath();
    // Registering the class can only fail for a broken system; that is a failure.
    if (!previous && !registerMainWindowClass())
        return 1;
    initCredentials();
    initSession();
    initLink();
    loadCredentials();
    // An address not understood posts nothing, not even to the usual service:
    // the account belongs to another.
    char service[kCredentialSize];
    loadServiceAddress(service);
    ServiceCheck check = setServiceAddress(service);
    if (check != kServiceUsable) {
        tellServiceUnusable(service, check);
        return 1;
    }
    char username[kCredentialSize];
    char password[kCredentialSize];
    copyCredentials(username, password);
    if (lstrlenA(username) < 3 && showOptionDialog() == IDCANCEL)
        return 1;
    g_mainWindow = createMainWindow();
    if (HANDLE link = CreateThread(NULL, 0, linkThreadProc, g_mainWindow, 0, NULL))
        CloseHandle(link);
    addTrayIcon();
    MSG msg = {};  // read below even when the first GetMessageA fails
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    removeTrayIcon();
    return static_cast<int>(msg.wParam);
}
