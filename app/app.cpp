#include "app.h"

const char kProgramName[] = "Moodshuttle";
const WCHAR kProgramNameW[] = L"Moodshuttle";
HINSTANCE g_instance;
WCHAR g_settingsPath[MAX_PATH];
HWND g_mainWindow;
