// The Option dialog: the account name and password, shown modally with no owner.
#pragma once
#include <windows.h>

// True on platform version 5.1 and later, where dialogs take the themed texture.
bool isXpOrLater();

INT_PTR CALLBACK optionDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the dialog; IDOK, IDCANCEL, or -1 when it could not be created.
INT_PTR showOptionDialog();
