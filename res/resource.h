// Resource and command identifiers, shared by the code and the resource script.
#pragma once

// Icons
#define IDI_MAIN 1

// Menus and their commands
#define IDM_TRAY 1002
#define IDM_MOOD 1003
#define IDM_SETTING 1004
#define IDM_EXIT 105

// Dialogs and their controls
#define IDD_OPTION 1006
#define IDC_USERNAME 4000
#define IDC_PASSWORD 4001
#define IDD_MOOD 1007
#define IDC_MOOD 4002
#define IDC_MOOD_LEFT 4003
