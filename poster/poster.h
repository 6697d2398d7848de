// The status update: one short-lived thread per mood change and account.
#pragma once

// Posts the NUL-terminated mood to one account by its way, and tells the
// main window the outcome; on a poster thread of its own.
void postToAccount(unsigned account, const char* mood);
