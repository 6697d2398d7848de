// Baseline for the benchmarks: the least a Win32 program with a window does.
// One hidden top-level window; when it is created the program says so in the
// debug output, as the program says its first discovery; it answers every
// WM_COPYDATA with 1 and nothing else; with --timer a 1-second timer ticks
// and does nothing.
//
//   minimal_window [--timer]   prints "ready HWND", then runs until killed
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

LRESULT CALLBACK windowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        OutputDebugStringA("minimal_window::WM_CREATE\n");
        return 0;
    }
    if (message == WM_COPYDATA)
        return 1;
    if (message == WM_TIMER)
        return 0;
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    bool timer = argc == 2 && strcmp(argv[1], "--timer") == 0;
    if (argc > 2 || (argc == 2 && !timer)) {
        fputs("usage: minimal_window [--timer]\n", stderr);
        return 2;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "MoodshuttleBenchMinimal";
    HWND window = RegisterClassA(&wc) ? CreateWindowExA(0, wc.lpszClassName, wc.lpszClassName, WS_OVERLAPPED, 0, 0,
                                                        0, 0, NULL, NULL, wc.hInstance, NULL)
                                      : NULL;
    if (!window)
        return 1;
    if (timer)
        SetTimer(window, 1, 1000, NULL);
    printf("ready %llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
