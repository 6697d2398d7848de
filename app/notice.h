// The few things the program tells the user, each in one message box titled
// with the program name. The texts go through the UTF-16 calls, since they
// name the settings file, which may lie in a folder the ANSI code page
// cannot spell.
#pragma once
#include <windows.h>

#include "../poster/service.h"

// An account's section (0 the program's own, 1 to 8 "Moodshuttle 2" to "9")
// names a status service address that cannot be used: not an address of
// ours at all, or one for a server that takes a token or an app password,
// over plain http.
void tellServiceUnusable(unsigned number, const char* address, ServiceCheck why);

// A further account's section (1 to 8) has no username.
void tellUsernameMissing(unsigned number);

// The account could not be written to the settings file.
void tellAccountNotSaved();

// The dialog's boxes hold characters the ANSI code page cannot store.
void tellCharactersNotStorable(HWND dialog, bool inUsername, bool inPassword);
