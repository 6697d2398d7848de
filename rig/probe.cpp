// Looks at and pokes the program's windows from outside, for the tests: one
// action per run, results on stdout, exit code 0 when it did what was asked
// and "no" on stdout when it did not.
//
//   probe find CLASS|- TITLE|- [WAIT_MS]  -> hwnd of a top-level window
//   probe info HWND                       -> "style S exstyle E rect L T R B texture T visible 0|1 owner O"
//                                            (T: the dialog texture flags asked for, 0 when never)
//   probe item HWND ID                    -> "style S text HEX" of a dialog item, its UTF-16 text as UTF-8
//   probe settext HWND ID TEXT            -> sets an item's text (WM_SETTEXT), as UTF-16: the text
//                                            as given, whatever the ANSI code page holds
//   probe click HWND ID                   -> presses a dialog button (BM_CLICK)
//   probe type TEXT                       -> types TEXT, as UTF-16, into whatever has the keyboard
//                                            (SendInput, KEYEVENTF_UNICODE): as typed, not set
//   probe key VK                          -> presses and releases one virtual key (SendInput)
//   probe post HWND MESSAGE WPARAM LPARAM -> PostMessage; MESSAGE may be a registered name
//   probe broadcast NAME                  -> posts a registered message to every top-level window
//   probe count CLASS|- TITLE|-           -> number of visible top-level windows matching
//   probe visible CLASS|- TITLE|- [WAIT_MS] -> hwnd of the first visible one
//   probe children HWND                   -> "hwnd class rect L T R B text HEX" per child
//   probe text HWND                       -> "text HEX": what the window answers to WM_GETTEXT
//   probe foreground                      -> hwnd of the foreground window (0 when none)
//   probe menuready HWND WAIT_MS          -> exit code 0 once HWND's thread tracks a menu and
//                                            reads its messages again
//   probe untray HWND ID                  -> takes a program's icon off the notification area
//   probe hasicon HWND ID                 -> exit code 0 when the notification area has that icon
//   probe fillatoms                       -> registers names until the atom table is full; the count
//   probe version                         -> "MAJOR.MINOR" the system reports to this program
//   probe message NAME                    -> the registered message's number, in hexadecimal
//   probe mutex NAME SDDL                 -> "holding" once it has made that mutex with that access
//                                            list; then waits, never ending
//   probe trustroot FILE                  -> adds the DER certificate in FILE to the prefix's
//                                            machine Root store; "trusted"
//   probe hold                            -> "holding" once it has the desktop; then waits, never ending
//   probe dpi HWND                        -> "dpi D size W H": the DPI the window is drawn for, and its size
//                                            in the screen's own pixels
//   probe token                           -> "integrity RID elevated 0|1 type T" of this probe's own token,
//                                            as a program started the same way sees its own
//   probe linked PROGRAM [ARGS...]        -> starts PROGRAM with the token linked to this one's (under Wine,
//                                            the limited one) and waits for its end; its exit code
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* orNull(const char* s) {
    return strcmp(s, "-") == 0 ? NULL : s;
}

HWND handleOf(const char* text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(strtoull(text, NULL, 16)));
}

UINT messageOf(const char* text) {
    char* end;
    unsigned long value = strtoul(text, &end, 0);
    return *end ? RegisterWindowMessageA(text) : static_cast<UINT>(value);
}

struct Match {
    const char* cls;
    const char* title;
    int count;
    HWND first;
};

BOOL CALLBACK countVisible(HWND hWnd, LPARAM param) {
    Match* m = reinterpret_cast<Match*>(param);
    char cls[256] = "", title[256] = "";
    GetClassNameA(hWnd, cls, sizeof cls);
    GetWindowTextA(hWnd, title, sizeof title);
    if (IsWindowVisible(hWnd) && (!m->cls || strcmp(cls, m->cls) == 0) && (!m->title || strcmp(title, m->title) == 0)) {
        if (!m->count++)
            m->first = hWnd;
    }
    return TRUE;
}

void printHandle(HWND hWnd) {
    printf("%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hWnd)));
}

HWND anyWindow(const char* cls, const char* title) {
    return FindWindowA(cls, title);
}

HWND firstVisible(const char* cls, const char* title) {
    Match m = {cls, title, 0, NULL};
    EnumWindows(countVisible, reinterpret_cast<LPARAM>(&m));
    return m.first;
}

// Looks every 100 ms until the window is there or wait_ms have passed.
int awaitWindow(HWND (*look)(const char*, const char*), const char* cls, const char* title, DWORD wait_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = look(cls, title)) {
            printHandle(found);
            printf("\n");
            return 0;
        }
        if (GetTickCount() - start >= wait_ms)
            return 1;
        Sleep(100);
    }
}

void printHex(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        printf("%02x", *p);
}

// The command line's argument `index` as given, in UTF-16.
const WCHAR* wideArgument(int index) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    return args && index < count ? args[index] : L"";
}

// Sends one key's press and release; wide is a UTF-16 unit for
// KEYEVENTF_UNICODE, else vk is a virtual key.
bool pressKey(WORD vk, WCHAR wide) {
    INPUT input[2] = {};
    for (int i = 0; i < 2; ++i) {
        input[i].type = INPUT_KEYBOARD;
        input[i].ki.wVk = vk;
        input[i].ki.wScan = wide;
        input[i].ki.dwFlags = (wide ? KEYEVENTF_UNICODE : 0) | (i ? KEYEVENTF_KEYUP : 0);
    }
    return SendInput(2, input, sizeof(INPUT)) == 2;
}

// Each unit goes as typed, one after another with a pause, as a person types.
int typeText(const WCHAR* text) {
    for (; *text; ++text) {
        if (!pressKey(0, *text))
            return 1;
        Sleep(5);
    }
    return 0;
}

void hold() {
    printf("holding\n");
    fflush(stdout);
    for (;;)
        Sleep(INFINITE);
}

BOOL CALLBACK printChild(HWND hWnd, LPARAM) {
    char cls[256] = "", text[256] = "";
    GetClassNameA(hWnd, cls, sizeof cls);
    GetWindowTextA(hWnd, text, sizeof text);
    RECT r = {};
    GetWindowRect(hWnd, &r);
    printHandle(hWnd);
    printf(" %s rect %ld %ld %ld %ld visible %d text ", cls, r.left, r.top, r.right, r.bottom,
           IsWindowVisible(hWnd) ? 1 : 0);
    printHex(text);
    printf("\n");
    return TRUE;
}

// A menu takes the mouse in two steps: the system's capture first, then the
// display's pointer grab, and only the grab sends a click elsewhere to the
// menu. The thread reads its messages again only after both, so a message it
// answers proves the grab is there.
bool awaitMenu(HWND hWnd, DWORD waitMs) {
    DWORD thread = GetWindowThreadProcessId(hWnd, NULL);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD start = GetTickCount();
    while (!GetGUIThreadInfo(thread, &info) || !(info.flags & GUI_INMENUMODE)) {
        if (GetTickCount() - start >= waitMs)
            return false;
        Sleep(20);
    }
    DWORD_PTR answer;
    return SendMessageTimeoutA(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, waitMs, &answer) != 0;
}

// Adds a DER certificate to this prefix's machine Root store, as certutil
// -addstore root does on Windows: every program of the prefix then trusts
// what it signed, and nothing outside the prefix changes.
int trustRoot(const char* path) {
    unsigned char der[16384];
    FILE* file = fopen(path, "rb");
    size_t size = file ? fread(der, 1, sizeof der, file) : 0;
    if (file)
        fclose(file);
    if (size == 0 || size == sizeof der)
        return 1;
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    BOOL added = root && CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, static_cast<DWORD>(size),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    if (root)
        CertCloseStore(root, 0);
    if (!added)
        return 1;
    printf("trusted\n");
    return 0;
}

// The integrity level's RID (0x2000 medium, 0x3000 high), whether the token
// is elevated, and its elevation type (1 default, 2 full, 3 limited).
int printToken() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 1;
    BYTE label[64];
    DWORD size = 0;
    TOKEN_ELEVATION elevation = {};
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD rid = 0;
    if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size)) {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
        rid = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
    }
    GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
    CloseHandle(token);
    printf("integrity %lx elevated %lu type %d\n", static_cast<unsigned long>(rid),
           static_cast<unsigned long>(elevation.TokenIsElevated), static_cast<int>(type));
    return 0;
}

// Starts the program given with the token linked to this probe's and waits
// for its end; its exit code. Under Wine a program starts with an
// administrator's full token, and the linked one is the limited token that a
// plain start gets on Windows.
int runLinked(int argc, char** argv) {
    HANDLE own;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) ||
        !GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size))
        return 1;
    CloseHandle(own);
    char line[4096] = "";
    for (int i = 0; i < argc; ++i) {
        lstrcatA(line, "\"");
        lstrcatA(line, argv[i]);
        lstrcatA(line, i + 1 < argc ? "\" " : "\"");
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessAsUserA(linked.LinkedToken, NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 1;
    fflush(stdout);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

int answer(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const char* action = argv[1];
    if ((!strcmp(action, "find") || !strcmp(action, "visible")) && argc >= 4)
        return awaitWindow(!strcmp(action, "find") ? anyWindow : firstVisible, orNull(argv[2]), orNull(argv[3]),
                           argc > 4 ? strtoul(argv[4], NULL, 10) : 0);
    if (!strcmp(action, "info") && argc >= 3) {
        HWND hWnd = handleOf(argv[2]);
        RECT r;
        if (!GetWindowRect(hWnd, &r))
            return 1;
        // The visual-styles library keeps the flags in a property; asking it
        // instead would say "enabled" for a dialog that never asked.
        printf("style %lx exstyle %lx rect %ld %ld %ld %ld texture %llx visible %d owner ",
               static_cast<unsigned long>(GetWindowLongA(hWnd, GWL_STYLE)),
               static_cast<unsigned long>(GetWindowLongA(hWnd, GWL_EXSTYLE)), r.left, r.top, r.right, r.bottom,
               static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetPropA(hWnd, "ux_dialogtheme"))),
               IsWindowVisible(hWnd) ? 1 : 0);
        printHandle(GetWindow(hWnd, GW_OWNER));
        printf("\n");
        return 0;
    }
    if (!strcmp(action, "item") && argc >= 4) {
        HWND item = GetDlgItem(handleOf(argv[2]), atoi(argv[3]));
        if (!item)
            return 1;
        WCHAR wide[1024] = L"";
        SendMessageW(item, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide));
        char text[3 * 1024] = "";
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, NULL, NULL);
        printf("style %lx text ", static_cast<unsigned long>(GetWindowLongA(item, GWL_STYLE)));
        printHex(text);
        printf("\n");
        return 0;
    }
    if (!strcmp(action, "settext") && argc >= 5) {
        HWND item = GetDlgItem(handleOf(argv[2]), atoi(argv[3]));
        return item && SendMessageW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wideArgument(4))) ? 0 : 1;
    }
    if (!strcmp(action, "click") && argc >= 4) {
        HWND item = GetDlgItem(handleOf(argv[2]), atoi(argv[3]));
        return item && PostMessageA(item, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (!strcmp(action, "type") && argc >= 3)
        return typeText(wideArgument(2));
    if (!strcmp(action, "key") && argc >= 3)
        return pressKey(static_cast<WORD>(strtoul(argv[2], NULL, 0)), 0) ? 0 : 1;
    if (!strcmp(action, "post") && argc >= 6) {
        return PostMessageA(handleOf(argv[2]), messageOf(argv[3]), strtoull(argv[4], NULL, 0),
                            strtoll(argv[5], NULL, 0))
                   ? 0
                   : 1;
    }
    if (!strcmp(action, "broadcast") && argc >= 3)
        return PostMessageA(HWND_BROADCAST, RegisterWindowMessageA(argv[2]), 0, 0) ? 0 : 1;
    if (!strcmp(action, "count") && argc >= 4) {
        Match m = {orNull(argv[2]), orNull(argv[3]), 0, NULL};
        EnumWindows(countVisible, reinterpret_cast<LPARAM>(&m));
        printf("%d\n", m.count);
        return 0;
    }
    if (!strcmp(action, "children") && argc >= 3) {
        EnumChildWindows(handleOf(argv[2]), printChild, 0);
        return 0;
    }
    if (!strcmp(action, "foreground")) {
        printHandle(GetForegroundWindow());
        printf("\n");
        return 0;
    }
    if (!strcmp(action, "menuready") && argc >= 4)
        return awaitMenu(handleOf(argv[2]), strtoul(argv[3], NULL, 10)) ? 0 : 1;
    if (!strcmp(action, "text") && argc >= 3) {
        char text[1024] = "";
        if (!IsWindow(handleOf(argv[2])))
            return 1;
        SendMessageA(handleOf(argv[2]), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        printf("text ");
        printHex(text);
        printf("\n");
        return 0;
    }
    if ((!strcmp(action, "untray") || !strcmp(action, "hasicon")) && argc >= 4) {
        NOTIFYICONDATAA data = {};
        data.cbSize = sizeof data;
        data.hWnd = handleOf(argv[2]);
        data.uID = strtoul(argv[3], NULL, 0);
        // A change of nothing (no flags) succeeds only for an icon that is there.
        return Shell_NotifyIconA(!strcmp(action, "untray") ? NIM_DELETE : NIM_MODIFY, &data) ? 0 : 1;
    }
    if (!strcmp(action, "fillatoms")) {
        char name[32];
        int count = 0;
        while (count < 0x10000) {
            wsprintfA(name, "probe-fill-%d", count);
            if (!RegisterWindowMessageA(name))
                break;
            ++count;
        }
        printf("%d\n", count);
        return 0;
    }
    if (!strcmp(action, "trustroot") && argc >= 3)
        return trustRoot(argv[2]);
    if (!strcmp(action, "dpi") && argc >= 3) {
        // Aware itself, so that no size it is told is scaled for it.
        SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
        HWND window = handleOf(argv[2]);
        RECT rect;
        if (!IsWindow(window) || !GetWindowRect(window, &rect))
            return 1;
        printf("dpi %u size %ld %ld\n", GetDpiForWindow(window), rect.right - rect.left, rect.bottom - rect.top);
        return 0;
    }
    if (!strcmp(action, "token"))
        return printToken();
    if (!strcmp(action, "linked") && argc >= 3)
        return runLinked(argc - 2, argv + 2);
    if (!strcmp(action, "hold")) {
        // Wine's desktop process ends soon after the last program that uses
        // the desktop; this one keeps it for as long as the prefix lives.
        GetDesktopWindow();
        hold();
    }
    if (!strcmp(action, "message") && argc >= 3) {
        printf("%x\n", RegisterWindowMessageA(argv[2]));
        return 0;
    }
    if (!strcmp(action, "mutex") && argc >= 4) {
        SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[3], SDDL_REVISION_1,
                                                                  &security.lpSecurityDescriptor, NULL) ||
            !CreateMutexA(&security, TRUE, argv[2]))
            return 1;
        hold();
    }
    if (!strcmp(action, "version")) {
        OSVERSIONINFOA v = {};
        v.dwOSVersionInfoSize = sizeof v;
        GetVersionExA(&v);
        printf("%lu.%lu\n", v.dwMajorVersion, v.dwMinorVersion);
        return 0;
    }
    return 2;
}

}  // namespace

// A refusal says so on stdout, so that a run Wine ended before it got here
// (with its reasons on stderr, and the same exit code) is told apart from a no.
int main(int argc, char** argv) {
    int code = answer(argc, argv);
    if (code != 0)
        printf("no\n");
    return code;
}
