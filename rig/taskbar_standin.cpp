// Plays a taskbar that is slow to take icons, for the system tests. It is a
// window of the taskbar's class: Shell_NotifyIcon finds the taskbar by that
// class and sends each icon request to it as WM_COPYDATA, with dwData the
// NIM_ command and the data starting with the icon's window (32 bits) and
// identifier, and it returns what the window answers. It keeps the icons it
// took, as a taskbar does, and answers like one, except that:
//
//   --refuse N   the first N adds are refused: nothing is added, FALSE
//   --late N     the first N adds are done but answered FALSE, as when the
//                taskbar answers only after the caller stopped waiting
//
// stdout: "ready HWND", then one line per request,
// "request MS add|modify|delete|other HWND ID OUTCOME", where MS counts from
// the start and OUTCOME is added, refused, late, present (an add of an icon
// already there), modified, deleted or absent (no such icon); "other" is
// answered TRUE. A request that carries a balloon (NIF_INFO) is followed by
// "balloon MS HWND ID FLAGS INFOFLAGS TITLE TEXT": the request's NIF_ flags,
// the balloon's NIIF_ flags, and its title and text as hex of their UTF-8.
// One that carries an icon (NIF_ICON) is followed by
// "icon MS HWND ID WIDTH HEIGHT": the size of the icon's image as handed over.
// Runs until killed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace {

unsigned long g_refuse;
unsigned long g_late;
std::set<std::pair<DWORD, DWORD>> g_icons;  // (window, identifier) of every icon taken
DWORD g_start;

struct IconRequest {  // how the request data begins
    DWORD window;
    DWORD id;
};

// The whole request as Wine's shell sends it, up to the balloon's fields;
// the icon's bitmap follows.
struct WineIconRequest {
    IconRequest icon;
    UINT flags;
    UINT callbackMessage;
    WCHAR tip[128];
    DWORD state;
    DWORD stateMask;
    WCHAR info[256];
    UINT timeout;
    WCHAR infoTitle[64];
    DWORD infoFlags;
};

// And after it, the icon's bitmap as Wine's shell describes it; its bits follow.
struct WineIconBitmap {
    WineIconRequest request;
    GUID item;
    UINT width;
    UINT height;
    UINT planes;
    UINT bitsPerPixel;
};

void printHex(const WCHAR* text, int count) {
    char utf8[1024];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(wcsnlen(text, count)), utf8, sizeof utf8, NULL, NULL);
    printf(" ");
    for (int i = 0; i < size; ++i)
        printf("%02x", static_cast<unsigned char>(utf8[i]));
}

void printBalloon(const COPYDATASTRUCT& data) {
    WineIconRequest request;
    if (data.cbData < sizeof request)
        return;
    memcpy(&request, data.lpData, sizeof request);
    if (!(request.flags & NIF_INFO))
        return;
    printf("balloon %lu %lx %lu %x %lx", GetTickCount() - g_start, request.icon.window, request.icon.id,
           request.flags, request.infoFlags);
    printHex(request.infoTitle, 64);
    printHex(request.info, 256);
    printf("\n");
    fflush(stdout);
}

void printIcon(const COPYDATASTRUCT& data) {
    WineIconBitmap icon;
    if (data.cbData < sizeof icon)
        return;
    memcpy(&icon, data.lpData, sizeof icon);
    if (!(icon.request.flags & NIF_ICON))
        return;
    printf("icon %lu %lx %lu %u %u\n", GetTickCount() - g_start, icon.request.icon.window, icon.request.icon.id,
           icon.width, icon.height);
    fflush(stdout);
}

BOOL answer(const char* command, const IconRequest& icon, const char* outcome, BOOL result) {
    printf("request %lu %s %lx %lu %s\n", GetTickCount() - g_start, command, icon.window, icon.id, outcome);
    fflush(stdout);
    return result;
}

BOOL onIconRequest(ULONG_PTR command, const IconRequest& icon) {
    std::pair<DWORD, DWORD> key(icon.window, icon.id);
    bool present = g_icons.count(key) != 0;
    switch (command) {
    case NIM_ADD:
        if (g_refuse) {
            --g_refuse;
            return answer("add", icon, "refused", FALSE);
        }
        if (present)
            return answer("add", icon, "present", FALSE);
        g_icons.insert(key);
        if (g_late) {
            --g_late;
            return answer("add", icon, "late", FALSE);
        }
        return answer("add", icon, "added", TRUE);
    case NIM_MODIFY:
        return present ? answer("modify", icon, "modified", TRUE) : answer("modify", icon, "absent", FALSE);
    case NIM_DELETE:
        if (!present)
            return answer("delete", icon, "absent", FALSE);
        g_icons.erase(key);
        return answer("delete", icon, "deleted", TRUE);
    default:
        return answer("other", icon, "-", TRUE);
    }
}

LRESULT CALLBACK taskbarProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || !data->lpData || data->cbData < sizeof(IconRequest))
            return FALSE;
        IconRequest icon;
        memcpy(&icon, data->lpData, sizeof icon);
        BOOL result = onIconRequest(data->dwData, icon);
        printBalloon(*data);
        printIcon(*data);
        return result;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

bool parseCount(const char* text, unsigned long* out) {
    char* end;
    *out = strtoul(text, &end, 10);
    return *text && !*end;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--refuse") && i + 1 < argc && parseCount(argv[i + 1], &g_refuse)) {
            ++i;
        } else if (!strcmp(argv[i], "--late") && i + 1 < argc && parseCount(argv[i + 1], &g_late)) {
            ++i;
        } else {
            fputs("usage: taskbar_standin [--refuse N] [--late N]\n", stderr);
            return 2;
        }
    }
    g_start = GetTickCount();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = taskbarProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "Shell_TrayWnd";
    // Topmost and never shown, so that the shell's lookup by class meets this window first.
    HWND taskbar = RegisterClassA(&wc) ? CreateWindowExA(WS_EX_TOPMOST, "Shell_TrayWnd", "", WS_POPUP, 0, 0, 0, 0,
                                                         NULL, NULL, wc.hInstance, NULL)
                                       : NULL;
    if (!taskbar || FindWindowA("Shell_TrayWnd", NULL) != taskbar) {
        fprintf(stderr, "taskbar_standin: not the taskbar icon requests reach (%lu)\n", GetLastError());
        return 1;
    }
    printf("ready %llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(taskbar)));
    fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
