#include "message_filter.h"

namespace {

// Whether this program runs above medium integrity, as an elevated copy
// does: only then does Windows drop messages from the programs below it. At
// medium, opening the filter would let in what Windows stops on purpose: a
// program of low integrity (a sandbox, a downloaded tool) naming itself the
// chat client and posting what it likes to the user's account. The token
// must also say it is elevated: Wine gives even a limited token high
// integrity. A token that cannot be read opens nothing.
bool runsAboveMedium() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    // The label and the SID it points to, which follows it.
    union {
        TOKEN_MANDATORY_LABEL label;
        BYTE room[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    } integrity;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool above = GetTokenInformation(token, TokenIntegrityLevel, &integrity, sizeof integrity, &size) &&
                 GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                 elevation.TokenIsElevated;
    CloseHandle(token);
    if (!above)
        return false;
    PSID sid = integrity.label.Label.Sid;
    UCHAR count = *GetSidSubAuthorityCount(sid);
    return count > 0 && *GetSidSubAuthority(sid, count - 1U) > SECURITY_MANDATORY_MEDIUM_RID;
}

}  // namespace

void allowFromLowerIntegrity(HWND hWnd, UINT message) {
    typedef BOOL(WINAPI * ChangeFilter)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
    if (!runsAboveMedium())
        return;
    HMODULE user32 = GetModuleHandleA("user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, "ChangeWindowMessageFilterEx") : NULL;
    if (!found)
        return;
    // Through the generic function type, which any function pointer may pass.
    ChangeFilter change = reinterpret_cast<ChangeFilter>(reinterpret_cast<void (*)()>(found));
    change(hWnd, message, MSGFLT_ALLOW, NULL);
}
