// The dialog where the user types a mood, which is then posted as a mood
// from the chat client is: shown modally with no owner, from the tray menu.
#pragma once
#include <windows.h>

INT_PTR CALLBACK moodDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the dialog; while it is open, brings it to the front instead.
void showMoodDialog();
