#include "link.h"

#include "../app/message_filter.h"
#include "../poster/poster.h"
#include "../poster/service.h"
#include "link_text.h"

namespace {

// All of this belongs to the link thread; nothing else touches it.
HWND g_linkWindow;            // our hidden window, sends and receives everything
UINT WM_SKYPECONTROL_DISCOVER;
UINT WM_SKYPECONTROL_ATTACH;
HWND g_skypeWindow;           // the client's endpoint from the last good attach; null when none known
LONG g_attachStatus = 3;      // last attach reply; 3 (not available) at start and after a failed send
DWORD g_keepAliveTicks;       // timer ticks since the last attach reply or PING

const UINT_PTR kTimerId = 10000;
const LONG kAttached = 0;
const LONG kPendingAuthorisation = 1;
const LONG kNotAvailable = 3;

// The client may hang; bound each command so the timer and the messages go on.
const UINT kSendTimeoutMs = 5000;

// Address space a poster's stack reserves: what Windows gives a thread by
// default. The request runs in the HTTP client, which may work out the proxy
// (a proxy script, automatic detection) on this very thread, so its stack is
// not ours to trim.
const SIZE_T kPosterStackSize = 1024 * 1024;

// Posters running: the link thread adds one for each it starts, each poster
// takes itself off as it ends.
volatile LONG g_postersRunning;

// Moods beyond this many running posters wait their turn, so a burst never
// fills the address space. 400 stacks take 400 MiB of a 32-bit process's
// 2 GiB on Windows. Wine's 32-bit loader adds 2 MiB of its own to each
// thread, and 638 threads of 1 MiB fill its 4 GiB (measured): 400 take 1.2 GiB
// of that, and its WoW64 mode fits about 1,600.
const LONG kMaxPosters = 400;

// Mood texts waiting for a poster, oldest first, in a ring; link thread only.
// When even this is full a mood is dropped rather than memory taken without
// end: each text is at most kMoodBytesMax bytes and its terminator, so a full
// ring holds at most 16,384 x 2,005 bytes (31.3 MiB), whatever the client sends.
const DWORD kMaxWaiting = 16384;
char* g_waiting[kMaxWaiting];
DWORD g_firstWaiting;
DWORD g_waitingCount;

// Told to the link window when a typed mood waits. It carries nothing: the
// window's class is known to every program on the desktop, and any of them
// may post it this; the texts come from our own queue below.
const UINT WM_TYPEDMOOD = WM_APP + 3;

// Moods the user typed, from the main thread to the link thread, and the last
// mood a poster was started with, for the main thread's dialog: both under
// one lock, never deleted, since both threads live until the process ends.
// The typed moods are blocks the link thread takes over into the waiting
// ring; a few are room enough, as the link takes them at once.
CRITICAL_SECTION g_handOffLock;
const DWORD kMaxTyped = 8;
char* g_typed[kMaxTyped];
DWORD g_typedCount;
HWND g_handOffWindow;  // the link window, once there; null before
char g_lastMood[kMoodBytesMax + 1];

void broadcastDiscovery(HWND hWnd) {
    PostMessageA(HWND_BROADCAST, WM_SKYPECONTROL_DISCOVER, reinterpret_cast<WPARAM>(hWnd), 0);
}

void* zeroBlock(SIZE_T size) {
    return GlobalAlloc(GMEM_ZEROINIT, size);
}

// Converts an OEM code page text to UTF-8 in a new block, or null.
char* oemToUtf8(const char* text) {
    // Both counts are 0 on failure, never negative.
    int wideCount = MultiByteToWideChar(CP_OEMCP, 0, text, -1, NULL, 0);
    WCHAR* wide = static_cast<WCHAR*>(zeroBlock(static_cast<SIZE_T>(wideCount) * 2 + 2));
    if (!wide)
        return NULL;
    MultiByteToWideChar(CP_OEMCP, 0, text, -1, wide, wideCount);
    int utf8Size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    char* utf8 = static_cast<char*>(zeroBlock(static_cast<SIZE_T>(utf8Size) + 1));
    if (utf8)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, utf8Size, NULL, NULL);
    GlobalFree(wide);
    return utf8;
}

// Sends one command; a command that cannot be delivered means the link is lost.
void sendSkypeCommand(const char* command) {
    char* utf8 = NULL;
    if (char* text = static_cast<char*>(zeroBlock(commandTextSize(command)))) {
        commandText(text, command);
        utf8 = oemToUtf8(text);
        GlobalFree(text);
    }
    BOOL delivered = FALSE;
    if (utf8 && g_skypeWindow) {
        COPYDATASTRUCT data = {0, static_cast<DWORD>(lstrlenA(utf8) + 1), utf8};
        DWORD_PTR answer = 0;
        // SMTO_NORMAL: the client's own messages to us are still handled while we wait.
        delivered = SendMessageTimeoutA(g_skypeWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(g_linkWindow),
                                        reinterpret_cast<LPARAM>(&data), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                        kSendTimeoutMs, &answer) &&
                    answer != 0;
    }
    if (!delivered) {
        g_skypeWindow = NULL;
        g_attachStatus = kNotAvailable;
    }
    if (utf8)
        GlobalFree(utf8);
}

// A mood being posted: one poster for each account shares the text, and
// the last of them to end frees both.
struct MoodPosts;
struct AccountPost {
    MoodPosts* mood;
    unsigned account;
};
struct MoodPosts {
    volatile LONG holders;
    char* text;
    AccountPost each[kMaxAccounts];
};

// The oldest waiting mood's posts while its posters are being started: the
// next account to start one for; link thread only.
MoodPosts* g_starting;
unsigned g_nextAccount;

DWORD WINAPI runPoster(LPVOID param) {
    AccountPost* post = static_cast<AccountPost*>(param);
    MoodPosts* mood = post->mood;
    postToAccount(post->account, mood->text);
    if (InterlockedDecrement(&mood->holders) == 0) {
        GlobalFree(mood->text);
        GlobalFree(mood);
    }
    InterlockedDecrement(&g_postersRunning);
    return 0;
}

// Starts the posters of the oldest waiting mood, one an account, as far as
// there is room; true once every account has one, and they own the text.
// Each poster counts against kMaxPosters as one mood's did with one account,
// so a burst to nine accounts takes no more threads than a burst to one.
bool startPosters(char* text) {
    if (!g_starting) {
        g_starting = static_cast<MoodPosts*>(zeroBlock(sizeof(MoodPosts)));
        if (!g_starting)
            return false;
        g_starting->text = text;
        g_starting->holders = static_cast<LONG>(g_accountCount);
        g_nextAccount = 0;
        // Copied now: once started, the posters may free it at any moment.
        EnterCriticalSection(&g_handOffLock);
        lstrcpynA(g_lastMood, text, sizeof g_lastMood);
        LeaveCriticalSection(&g_handOffLock);
    }
    for (; g_nextAccount < g_accountCount; ++g_nextAccount) {
        if (g_postersRunning >= kMaxPosters)
            return false;
        AccountPost* post = &g_starting->each[g_nextAccount];
        post->mood = g_starting;
        post->account = g_nextAccount;
        InterlockedIncrement(&g_postersRunning);
        HANDLE poster = CreateThread(NULL, kPosterStackSize, runPoster, post, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (!poster) {
            InterlockedDecrement(&g_postersRunning);
            return false;  // tried again at the next start
        }
        CloseHandle(poster);
    }
    g_starting = NULL;
    return true;
}

// Starts posters for waiting moods, oldest first, while there is room.
void startWaitingPosters() {
    while (g_waitingCount && startPosters(g_waiting[g_firstWaiting])) {
        g_firstWaiting = (g_firstWaiting + 1) % kMaxWaiting;
        --g_waitingCount;
    }
}

// Puts a mood at the end of the waiting ring, which then owns the block;
// when the ring is full the mood is dropped.
void queueMood(char* text) {
    if (g_waitingCount == kMaxWaiting) {
        GlobalFree(text);
        return;
    }
    g_waiting[(g_firstWaiting + g_waitingCount++) % kMaxWaiting] = text;
}

// Takes the moods the user typed into the waiting ring, in the order typed.
void onTypedMood() {
    EnterCriticalSection(&g_handOffLock);
    for (DWORD i = 0; i < g_typedCount; ++i)
        queueMood(g_typed[i]);
    g_typedCount = 0;
    LeaveCriticalSection(&g_handOffLock);
}

BOOL onCreate(HWND hWnd) {
    OutputDebugStringA("onCreate::WM_SKYPECONTROL_DISCOVER\n");
    // The client runs below an elevated copy; its reply and notifications
    // must still get in. Who sent them is checked as for any other sender.
    allowFromLowerIntegrity(hWnd, WM_SKYPECONTROL_ATTACH);
    allowFromLowerIntegrity(hWnd, WM_COPYDATA);
    broadcastDiscovery(hWnd);
    SetTimer(hWnd, kTimerId, 1000, NULL);
    return TRUE;
}

void onTimer() {
    // A typed mood whose message was lost (a full queue) waits at most a tick.
    onTypedMood();
    startWaitingPosters();
    if (g_attachStatus != kAttached && g_attachStatus != kPendingAuthorisation) {
        OutputDebugStringA("onTimer::WM_SKYPECONTROL_DISCOVER\n");
        broadcastDiscovery(g_linkWindow);
        return;
    }
    // Ticks 0 to 10 only count, so the PING goes out on every 12th tick.
    if (g_keepAliveTicks > 10) {
        sendSkypeCommand("PING");
        g_keepAliveTicks = 0;
    } else {
        ++g_keepAliveTicks;
    }
}

void onAttach(WPARAM wParam, LPARAM lParam) {
    g_attachStatus = static_cast<LONG>(lParam);
    g_keepAliveTicks = 0;
    char line[40];
    wsprintfA(line, "WM_SKYPECONTROL_ATTACH: %x\n", static_cast<unsigned>(lParam));
    OutputDebugStringA(line);
    // The status is 32 bits; on 64-bit Windows the upper half of lParam is not part of it.
    if (g_attachStatus == kAttached) {
        g_skypeWindow = reinterpret_cast<HWND>(wParam);
        Sleep(0);
        sendSkypeCommand("PROTOCOL 5");
        Sleep(0);
    }
}

// Puts a mood notification's text at the end of the waiting ring; anything
// else is ignored. The poster starts once the client has its answer
// (linkThreadProc): starting a thread is slow next to the notification
// itself, and the client stands still until we answer.
void onCopyData(const COPYDATASTRUCT* data) {
    if (!data)
        return;
    const char* bytes = static_cast<const char*>(data->lpData);
    if (!isMoodNotification(bytes, data->cbData))
        return;
    if (g_waitingCount == kMaxWaiting)
        return;
    char* text = static_cast<char*>(zeroBlock(moodBlockSize(bytes, data->cbData)));
    if (!text)
        return;
    copyMoodText(text, bytes, data->cbData);
    queueMood(text);
}

LRESULT CALLBACK linkWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE)
        return onCreate(hWnd) ? 0 : -1;
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_COPYDATA) {
        // Only the client we attached to may post statuses.
        if (g_skypeWindow && reinterpret_cast<HWND>(wParam) == g_skypeWindow)
            onCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 1;
    }
    if (message == WM_TIMER) {
        onTimer();
        return 0;
    }
    if (message == WM_TYPEDMOOD) {
        onTypedMood();
        return 0;
    }
    if (message == WM_SKYPECONTROL_ATTACH)
        onAttach(wParam, lParam);
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

}  // namespace

void initLink() {
    InitializeCriticalSection(&g_handOffLock);
}

bool handTypedMood(const char* utf8) {
    char* text = static_cast<char*>(zeroBlock(kMoodBytesMax + 1));
    if (!text)
        return false;
    lstrcpynA(text, utf8, kMoodBytesMax + 1);
    EnterCriticalSection(&g_handOffLock);
    bool taken = g_typedCount < kMaxTyped;
    if (taken)
        g_typed[g_typedCount++] = text;
    HWND link = g_handOffWindow;
    LeaveCriticalSection(&g_handOffLock);
    if (!taken) {
        GlobalFree(text);
        return false;
    }
    // Before the link window is there, its creation takes the mood.
    if (link)
        PostMessageA(link, WM_TYPEDMOOD, 0, 0);
    return true;
}

void copyLastMood(char* dest) {
    EnterCriticalSection(&g_handOffLock);
    lstrcpynA(dest, g_lastMood, kMoodBytesMax + 1);
    LeaveCriticalSection(&g_handOffLock);
}

DWORD WINAPI linkThreadProc(LPVOID) {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = linkWndProc;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.lpszClassName = "SkypeSR";
    if (!RegisterClassA(&wc))
        return 0;
    WM_SKYPECONTROL_DISCOVER = RegisterWindowMessageA("SkypeControlAPIDiscover");
    WM_SKYPECONTROL_ATTACH = RegisterWindowMessageA("SkypeControlAPIAttach");
    // The title is spelled so on purpose: it is the window's name as peers know it.
    g_linkWindow = CreateWindowExA(0, "SkypeSR", "SkypeSendReceiveWindwow", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                   CW_USEDEFAULT, 0, 0, NULL, NULL, NULL, NULL);
    ShowWindow(g_linkWindow, SW_HIDE);
    UpdateWindow(g_linkWindow);
    EnterCriticalSection(&g_handOffLock);
    g_handOffWindow = g_linkWindow;
    LeaveCriticalSection(&g_handOffLock);
    onTypedMood();  // typed before the window was there
    // The message loop. Messages sent to us, the client's notifications among
    // them, are handled inside PeekMessageA and answered as their handler
    // returns; so the posters they leave in the ring start here, once the
    // client has its answer, and not on the next message posted to us.
    MSG msg = {};
    for (;;) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return static_cast<DWORD>(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (g_waitingCount) {
            startWaitingPosters();
            Sleep(0);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, INFINITE, QS_ALLINPUT);
    }
}
