// Messages an elevated copy must still hear from programs that run below it.
#pragma once
#include <windows.h>

// Lets `message` through to hWnd from programs of a lower integrity level,
// which Windows' message filter otherwise drops for registered messages and
// WM_COPYDATA, when this program runs above medium integrity; otherwise
// nothing is opened. Looked up at run time: where the call does not exist,
// neither does the filter, and nothing is done.
void allowFromLowerIntegrity(HWND hWnd, UINT message);
