// Open handles of the processes that own the given windows, counted in the
// system's handle table, for the benchmarks' soak. (Wine answers
// GetProcessHandleCount with 0; the table it keeps is the real count.)
//
//   handle_count HWND...   prints "HWND PID HANDLES" per window; exit code 1
//                          when the table or a window could not be read
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The layout of SystemHandleInformation (16), which the headers leave out.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

const ULONG kSystemHandleInformation = 16;
const NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

bool readTable(std::vector<unsigned char>* buffer) {
    buffer->resize(1 << 20);
    for (;;) {
        ULONG needed = 0;
        NTSTATUS status =
            NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation), buffer->data(),
                                     static_cast<ULONG>(buffer->size()), &needed);
        if (status != kInfoLengthMismatch)
            return status >= 0;
        buffer->resize(needed > buffer->size() ? needed + 65536 : buffer->size() * 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned char> buffer;
    if (argc < 2 || !readTable(&buffer)) {
        fputs("usage: handle_count HWND... (or the handle table could not be read)\n", stderr);
        return argc < 2 ? 2 : 1;
    }
    const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
    int code = 0;
    for (int i = 1; i < argc; ++i) {
        HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(strtoull(argv[i], NULL, 16)));
        DWORD pid = 0;
        if (!GetWindowThreadProcessId(window, &pid)) {
            printf("%s failed\n", argv[i]);
            code = 1;
            continue;
        }
        unsigned long count = 0;
        for (ULONG e = 0; e < table->count; ++e)
            count += table->entries[e].ownerPid == pid;
        printf("%s %lu %lu\n", argv[i], pid, count);
    }
    return code;
}
