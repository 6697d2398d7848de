// The link to the chat client: a thread of its own with a hidden window that
// finds the client, keeps the link alive and turns mood changes into posts.
#pragma once
#include <windows.h>

// Thread start routine; the parameter is the main window, which the link
// does not use.
DWORD WINAPI linkThreadProc(LPVOID mainWindow);
