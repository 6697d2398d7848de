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

namespace {

// Reads the further sections into the accounts after the first, in the
// order numbered. A section that cannot be posted with stops the program
// before anything is posted, as the first one's address does: its moods
// would otherwise go silently nowhere. The buffers are the caller's room.
bool loadFurtherAccounts(char (&username)[kCredentialSize], char (&password)[kCredentialSize]) {
    for (unsigned number = 1; number < kMaxAccounts; ++number) {
        char service[kCredentialSize];
        if (!loadFurtherAccount(number, service, username, password))
            continue;
        unsigned account = g_accountCount;
        ServiceCheck check = setServiceAddress(account, service);
        if (check != kServiceUsable) {
            tellServiceUnusable(number, service, check);
            return false;
        }
        if (!username[0]) {
            tellUsernameMissing(number);
            return false;
        }
        storeFurtherCredentials(account, username, password);
        g_accountSections[account] = static_cast<unsigned char>(number);
        ++g_accountCount;
    }
    return true;
}

}  // namespace

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
    ServiceCheck check = setServiceAddress(0, service);
    if (check != kServiceUsable) {
        tellServiceUnusable(0, service, check);
        return 1;
    }
    char username[kCredentialSize];
    char password[kCredentialSize];
    if (!loadFurtherAccounts(username, password))
        return 1;
    copyCredentials(0, username, password);
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
