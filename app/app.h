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

// The hidden main window that owns the tray icon.
extern HWND g_mainWindow;

// Posted to the main window by each poster as it ends: wParam tells how the
// update ended (a PostOutcome), lParam the answer's status code.
const UINT WM_POSTOUTCOME = WM_APP + 2;
