// The status update: one short-lived thread per mood change.
#pragma once
#include <windows.h>

// Thread start routine. The parameter is a GlobalAlloc'd, zero-filled block
// holding the NUL-terminated text; the thread owns it and frees it.
DWORD WINAPI postStatusThreadProc(LPVOID text);
