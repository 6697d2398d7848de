// Process-wide values of the application shell. All are set by start-up on
// the main thread before the link thread starts and never change afterwards.
#pragma once
#include <windows.h>

// Mutex name, settings section, window class and title, tray tip, HTTP agent
// and client header value: one name for all of them.
extern const char kProgramName[];
extern const WCHAR kProgramNameW[];  // the same, for the UTF-16 calls

// The module instance, for loading resources.
extern HINSTANCE g_instance;

// The settings file beside the executable, in UTF-16; empty when the
// executable's path could not be had whole (260 characters or more), and then
// no settings file is read or written.
extern WCHAR g_settingsPath[MAX_PATH];

// Each account's section, by the account's index in g_services: 0 for the
// program's own section, 1 to 8 for "Moodshuttle 2" to "Moodshuttle 9".
// Further sections may leave gaps; the accounts do not.
extern unsigned char g_accountSections[];

// The hidden main window that owns the tray icon.
extern HWND g_mainWindow;

// Posted to the main window by each poster for each account it posted to:
// wParam's low word tells how the update ended (a PostOutcome), its high word
// the account; lParam the answer's status code.
const UINT WM_POSTOUTCOME = WM_APP + 2;
