#include "app.h"

#include "../poster/service_rules.h"

const char kProgramName[] = "Moodshuttle";
const WCHAR kProgramNameW[] = L"Moodshuttle";
HINSTANCE g_instance;
WCHAR g_settingsPath[MAX_PATH];
HWND g_mainWindow;
unsigned char g_accountSections[kMaxAccounts];
