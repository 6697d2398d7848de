// The hidden main window and its icon in the notification area.
#pragma once
#include <windows.h>

bool registerMainWindowClass();
HWND createMainWindow();
LRESULT CALLBACK mainWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
void addTrayIcon();
void removeTrayIcon();
void showTrayMenu(HWND hWnd);
