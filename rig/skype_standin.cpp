// Plays the chat client's side of the window-message control API for the
// system tests. Tests drive it one line at a time over stdin and read one line
// per event from stdout; see usage() for both vocabularies.
//
// A reader thread only reads stdin and posts each line to the window thread,
// so every window and stdout operation happens on one thread, and a `hang`
// really stops the client from answering anything.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const UINT kLineMsg = WM_APP + 1;  // lParam: std::string* owned by the receiver
const UINT kEofMsg = WM_APP + 2;
const DWORD kSendTimeoutMs = 10000;
const unsigned long long kMaxPayload = 64ull << 20;  // keeps `send` from asking for absurd buffers
const unsigned long long kMaxHangMs = 3600000;

UINT g_discoverMsg;
UINT g_attachMsg;
HWND g_api;
HWND g_other;
HWND g_client;  // last window that asked for discovery
bool g_attachAuto = true;
unsigned long long g_attachStatus = 0;
bool g_answer = true;
bool g_done;
LARGE_INTEGER g_start, g_freq;

void usage() {
    fputs("usage: skype_standin [--attach STATUS|none] [--answer yes|no]\n"
          "stdin:  attach STATUS|none | reply STATUS | answer yes|no | mood [TEXT]\n"
          "        send self|null|other CBDATA|auto [HEX] | hang MS | quit\n"
          "        target HWND | timed [TEXT] | pair HWND [TEXT] | burst N PREFIX | clock | flood FIRST COUNT SIZE\n"
          "stdout: ready HWND | discover T HWND | replied T STATUS | command T WPARAM CB [HEX]\n"
          "        sent T RESULT|timeout|failed ERR | resumed T | error TEXT | bye\n"
          "        timed QPC_US TOOK_US RESULT|timeout|failed ERR | burst N | clock QPC_US\n"
          "        flooded COUNT NOT1 [OUTCOME]\n"
          "target: moods and sends go to HWND until the next discovery; timed: a mood, with the\n"
          "time just before its SendMessage and how long that took, in microseconds of the\n"
          "performance counter; pair: the same to the target and right after to HWND, timed over both; burst: N timed moods PREFIX1..PREFIXN back to back; flood: COUNT\n"
          "mood notifications of SIZE bytes each, terminator included, back to back: \"mFIRST \" and so\n"
          "on, then x up to the size; NOT1 counts those not answered 1, the first of them told\n",
          stderr);
}

unsigned long long nowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<unsigned long long>(now.QuadPart - g_start.QuadPart) * 1000ull /
           static_cast<unsigned long long>(g_freq.QuadPart);
}

// The performance counter in microseconds, not shifted to our start, so the
// benchmarks can set it beside clocks outside Wine.
unsigned long long counterUs(const LARGE_INTEGER& at) {
    unsigned long long q = static_cast<unsigned long long>(at.QuadPart);
    unsigned long long f = static_cast<unsigned long long>(g_freq.QuadPart);
    return q / f * 1000000ull + q % f * 1000000ull / f;
}

std::string hex(unsigned long long v) {
    char buf[24];
    snprintf(buf, sizeof buf, "%llx", v);
    return buf;
}

std::string hex(HWND h) { return hex(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h))); }

std::string dec(unsigned long long v) {
    char buf[24];
    snprintf(buf, sizeof buf, "%llu", v);
    return buf;
}

std::string signedDec(long long v) {
    char buf[24];
    snprintf(buf, sizeof buf, "%lld", v);
    return buf;
}

// Tests wait for whole lines, so each one goes out in one piece and at once.
void emit(const std::string& line) {
    std::string out = line + "\n";
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
}

void emitError(const std::string& text) { emit("error " + text); }

bool parseNumber(const std::string& s, unsigned long long limit, unsigned long long* out) {
    size_t i = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= s.size())
        return false;
    unsigned long long v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (v > (limit - d) / base)
            return false;
        v = v * base + d;
    }
    *out = v;
    return true;
}

bool parseHexBytes(const std::string& s, std::vector<unsigned char>* out) {
    if (s.size() % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        unsigned long long v;
        if (!parseNumber("0x" + s.substr(i, 2), 0xff, &v))
            return false;
        out->push_back(static_cast<unsigned char>(v));
    }
    return true;
}

std::vector<std::string> splitWords(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t')
            ++j;
        if (j > i)
            words.push_back(s.substr(i, j - i));
        i = j;
    }
    return words;
}

bool parseAttach(const std::string& word, bool* autoReply, unsigned long long* status) {
    if (word == "none") {
        *autoReply = false;
        return true;
    }
    if (!parseNumber(word, 0xffffffffull, status))
        return false;
    *autoReply = true;
    return true;
}

void postAttach(unsigned long long status) {
    if (!PostMessageA(g_client, g_attachMsg, reinterpret_cast<WPARAM>(g_api), static_cast<LPARAM>(status))) {
        emitError("attach reply to " + hex(g_client) + " failed " + dec(GetLastError()));
        return;
    }
    emit("replied " + dec(nowMs()) + " " + hex(status));
}

// Bounded, so a client that stops answering costs the test 10 s, not the run.
// Returns the outcome as the last words of a line: the result, timeout or failed ERR.
std::string copyData(HWND from, const void* data, DWORD cbData) {
    COPYDATASTRUCT cds;
    cds.dwData = 0;
    cds.cbData = cbData;
    cds.lpData = const_cast<void*>(data);
    DWORD_PTR result = 0;
    SetLastError(0);
    LRESULT ok = SendMessageTimeoutA(g_client, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                     reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, kSendTimeoutMs, &result);
    DWORD err = GetLastError();
    if (ok)
        return signedDec(static_cast<LONG_PTR>(result));
    if (err == ERROR_TIMEOUT || err == 0)  // some versions leave the error unset on timeout
        return "timeout";
    return "failed " + dec(err);
}

void notify(HWND from, const void* data, DWORD cbData) {
    std::string outcome = copyData(from, data, cbData);
    emit("sent " + dec(nowMs()) + " " + outcome);
}

// One mood notification, timed on the performance counter.
void timedMood(const std::string& mood) {
    std::string text = "PROFILE MOOD_TEXT " + mood;
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    std::string outcome = copyData(g_api, text.c_str(), static_cast<DWORD>(text.size() + 1));
    QueryPerformanceCounter(&after);
    unsigned long long start = counterUs(before);
    emit("timed " + dec(start) + " " + dec(counterUs(after) - start) + " " + outcome);
}

// The same mood to the target and right after it to `second`, timed from
// the first SendMessage to the end of the second: two receivers started
// together.
void timedPair(HWND second, const std::string& mood) {
    std::string text = "PROFILE MOOD_TEXT " + mood;
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    std::string outcome = copyData(g_api, text.c_str(), static_cast<DWORD>(text.size() + 1));
    HWND first = g_client;
    g_client = second;
    std::string outcome2 = copyData(g_api, text.c_str(), static_cast<DWORD>(text.size() + 1));
    g_client = first;
    QueryPerformanceCounter(&after);
    unsigned long long start = counterUs(before);
    emit("timed " + dec(start) + " " + dec(counterUs(after) - start) + " " +
         (outcome == outcome2 ? outcome : outcome + "," + outcome2));
}

// Moods back to back, as fast as a client can send them. Messages sent to us
// meanwhile (the program's PING) are answered between two moods.
void burst(unsigned long long count, const std::string& prefix) {
    MSG msg;
    for (unsigned long long i = 1; i <= count; ++i) {
        timedMood(prefix + dec(i));
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    }
    emit("burst " + dec(count));
}

// Notifications far longer than a mood, as fast as a client can send them.
void flood(unsigned long long first, unsigned long long count, unsigned long long size) {
    const std::string prefix = "PROFILE MOOD_TEXT ";
    unsigned long long notOne = 0;
    std::string firstNotOne;
    MSG msg;
    for (unsigned long long i = first; i < first + count; ++i) {
        std::string text = prefix + "m" + dec(i) + " ";
        if (text.size() + 1 < size)
            text.append(size - 1 - text.size(), 'x');
        std::string outcome = copyData(g_api, text.c_str(), static_cast<DWORD>(text.size() + 1));
        if (outcome != "1" && !notOne++)
            firstNotOne = " " + outcome;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    }
    emit("flooded " + dec(count) + " " + dec(notOne) + firstNotOne);
}

void finish() {
    if (g_done)
        return;
    g_done = true;
    HWND api = g_api, other = g_other;
    g_api = g_other = NULL;
    if (other)
        DestroyWindow(other);
    if (api)
        DestroyWindow(api);
}

void handleLine(const std::string& line) {
    std::string cmd = line.substr(0, line.find(' '));
    std::vector<std::string> args = splitWords(line);
    if (!args.empty() && cmd != "mood")
        args.erase(args.begin());

    if (cmd == "mood") {
        if (!g_client)
            return emitError("mood: no client yet");
        std::string text = "PROFILE MOOD_TEXT " + (line.size() > 5 ? line.substr(5) : std::string());
        notify(g_api, text.c_str(), static_cast<DWORD>(text.size() + 1));
    } else if (cmd == "attach") {
        bool autoReply;
        unsigned long long status;
        if (args.size() != 1 || !parseAttach(args[0], &autoReply, &status))
            return emitError("attach wants STATUS or none");
        g_attachAuto = autoReply;
        if (autoReply)
            g_attachStatus = status;
    } else if (cmd == "reply") {
        unsigned long long status;
        // Any 64 bits: on a 64-bit build lParam has an upper half the status is not part of.
        if (args.size() != 1 || !parseNumber(args[0], ~0ull, &status))
            return emitError("reply wants STATUS");
        if (!g_client)
            return emitError("reply: no client yet");
        postAttach(status);
    } else if (cmd == "answer") {
        if (args.size() != 1 || (args[0] != "yes" && args[0] != "no"))
            return emitError("answer wants yes or no");
        g_answer = args[0] == "yes";
    } else if (cmd == "send") {
        if (args.size() != 2 && args.size() != 3)
            return emitError("send wants FROM CBDATA|auto [HEX]");
        HWND from;
        if (args[0] == "self")
            from = g_api;
        else if (args[0] == "null")
            from = NULL;
        else if (args[0] == "other")
            from = g_other;
        else
            return emitError("send: FROM is self, null or other");
        std::vector<unsigned char> bytes;
        if (args.size() == 3 && !parseHexBytes(args[2], &bytes))
            return emitError("send: bad hex");
        if (bytes.size() > kMaxPayload)
            return emitError("send: too many bytes");
        unsigned long long cb = bytes.size();
        if (args[1] != "auto" && !parseNumber(args[1], kMaxPayload, &cb))
            return emitError("send: CBDATA is a number up to " + dec(kMaxPayload) + " or auto");
        if (!g_client)
            return emitError("send: no client yet");
        // Zero-filled to the larger size, so an overstated cbData still reads our memory.
        std::vector<unsigned char> buffer(cb > bytes.size() ? cb : bytes.size(), 0);
        if (!bytes.empty())
            memcpy(buffer.data(), bytes.data(), bytes.size());
        notify(from, buffer.empty() ? NULL : buffer.data(), static_cast<DWORD>(cb));
    } else if (cmd == "hang") {
        unsigned long long ms;
        if (args.size() != 1 || !parseNumber(args[0], kMaxHangMs, &ms))
            return emitError("hang wants MS up to " + dec(kMaxHangMs));
        Sleep(static_cast<DWORD>(ms));
        emit("resumed " + dec(nowMs()));
    } else if (cmd == "target") {
        unsigned long long h;
        if (args.size() != 1 || !parseNumber("0x" + args[0], ~0ull, &h))
            return emitError("target wants HWND in hex");
        g_client = reinterpret_cast<HWND>(static_cast<uintptr_t>(h));
    } else if (cmd == "timed") {
        if (!g_client)
            return emitError("timed: no client yet");
        timedMood(line.size() > 6 ? line.substr(6) : std::string());
    } else if (cmd == "pair") {
        unsigned long long h;
        if (args.empty() || !parseNumber("0x" + args[0], ~0ull, &h) || !g_client)
            return emitError("pair wants HWND in hex, after a target");
        size_t text = line.find(' ', 5);
        timedPair(reinterpret_cast<HWND>(static_cast<uintptr_t>(h)),
                  text == std::string::npos ? std::string() : line.substr(text + 1));
    } else if (cmd == "burst") {
        unsigned long long count;
        if (args.size() != 2 || !parseNumber(args[0], 1000000, &count))
            return emitError("burst wants N up to 1000000 and PREFIX");
        if (!g_client)
            return emitError("burst: no client yet");
        burst(count, args[1]);
    } else if (cmd == "flood") {
        unsigned long long first, count, size;
        if (args.size() != 3 || !parseNumber(args[0], ~0ull, &first) || !parseNumber(args[1], 1000000, &count) ||
            !parseNumber(args[2], kMaxPayload, &size))
            return emitError("flood wants FIRST, COUNT up to 1000000 and SIZE");
        if (!g_client)
            return emitError("flood: no client yet");
        flood(first, count, size);
    } else if (cmd == "clock") {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        emit("clock " + dec(counterUs(now)));
    } else if (cmd == "quit") {
        if (!args.empty())
            return emitError("quit takes nothing");
        finish();
    } else {
        emitError("unknown command: " + line);
    }
}

LRESULT onCopyData(WPARAM wParam, LPARAM lParam) {
    const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    std::string line = "command " + dec(nowMs()) + " " + hex(reinterpret_cast<HWND>(wParam));
    if (!cds) {
        line += " null";
    } else {
        line += " " + dec(cds->cbData);
        if (cds->cbData && !cds->lpData) {
            line += " null";
        } else if (cds->cbData) {
            static const char digits[] = "0123456789abcdef";
            const unsigned char* p = static_cast<const unsigned char*>(cds->lpData);
            line += ' ';
            for (DWORD i = 0; i < cds->cbData; ++i) {
                line += digits[p[i] >> 4];
                line += digits[p[i] & 15];
            }
        }
    }
    emit(line);
    return g_answer ? 1 : 0;
}

LRESULT CALLBACK apiProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == g_discoverMsg) {
        g_client = reinterpret_cast<HWND>(wParam);
        emit("discover " + dec(nowMs()) + " " + hex(g_client));
        if (g_attachAuto)
            postAttach(g_attachStatus);
        return 0;
    }
    switch (msg) {
    case WM_COPYDATA:
        return onCopyData(wParam, lParam);
    case kLineMsg: {
        std::string* line = reinterpret_cast<std::string*>(lParam);
        if (!g_done)
            handleLine(*line);
        delete line;
        return 0;
    }
    case kEofMsg:
        finish();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

DWORD WINAPI readStdin(LPVOID param) {
    HWND target = static_cast<HWND>(param);
    std::string line;
    int c;
    for (;;) {
        c = getc(stdin);
        if (c == EOF || c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (c == '\n' || !line.empty()) {
                std::string* copy = new std::string(line);
                if (!PostMessageA(target, kLineMsg, 0, reinterpret_cast<LPARAM>(copy))) {
                    delete copy;
                    return 0;  // window gone: nobody left to read for
                }
            }
            line.clear();
            if (c == EOF)
                break;
        } else {
            line += static_cast<char>(c);
        }
    }
    PostMessageA(target, kEofMsg, 0, 0);
    return 0;
}

HWND makeWindow(const char* className, WNDPROC proc) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = className;
    if (!RegisterClassA(&wc))
        return NULL;
    // Top-level and never shown: message-only windows miss HWND_BROADCAST.
    return CreateWindowExA(0, className, className, WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL, wc.hInstance, NULL);
}

}  // namespace

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&g_freq);
    QueryPerformanceCounter(&g_start);
    // Binary: a stray Ctrl-Z must not read as end of input, and lines end in \n alone.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);

    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--attach" && i + 1 < argc) {
            if (!parseAttach(argv[++i], &g_attachAuto, &g_attachStatus)) {
                usage();
                return 2;
            }
        } else if (opt == "--answer" && i + 1 < argc) {
            std::string v = argv[++i];
            if (v != "yes" && v != "no") {
                usage();
                return 2;
            }
            g_answer = v == "yes";
        } else {
            usage();
            return 2;
        }
    }

    g_discoverMsg = RegisterWindowMessageA("SkypeControlAPIDiscover");
    g_attachMsg = RegisterWindowMessageA("SkypeControlAPIAttach");
    g_api = makeWindow("MoodshuttleStandinApi", apiProc);
    g_other = makeWindow("MoodshuttleStandinOther", DefWindowProcA);
    if (!g_discoverMsg || !g_attachMsg || !g_api || !g_other) {
        fprintf(stderr, "skype_standin: window setup failed (%lu)\n", GetLastError());
        return 1;
    }
    emit("ready " + hex(g_api));

    HANDLE reader = CreateThread(NULL, 0, readStdin, g_api, 0, NULL);
    if (!reader) {
        fprintf(stderr, "skype_standin: no reader thread (%lu)\n", GetLastError());
        return 1;
    }
    CloseHandle(reader);

    MSG msg;
    while (!g_done && GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    finish();
    emit("bye");
    // The reader may still be blocked in getc; ExitProcess ends it.
    ExitProcess(0);
}
