// The link to the chat client: a thread of its own with a hidden window that
// finds the client, keeps the link alive and turns mood changes into posts.
#pragma once
#include <windows.h>

// Thread start routine; the parameter is the main window, which the link
// does not use.
DWORD WINAPI linkThreadProc(LPVOID mainWindow);

// Must run once on the main thread before the link thread starts.
void initLink();

// Hands a mood the user typed, in UTF-8, to the link thread, which posts it
// as it posts a mood from the client: in turn with them, by the same poster.
// At most kMoodBytesMax bytes of it are taken. False when typed moods are
// already waiting in numbers, and this one is not taken.
bool handTypedMood(const char* utf8);

// Copies the last mood a poster was started with, from either source, into
// dest (kMoodBytesMax + 1 bytes); empty before the first.
void copyLastMood(char* dest);
