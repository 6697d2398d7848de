// The settings file: an INI file beside the executable holding the account.
#pragma once

// Fills g_settingsPath from the executable's own path.
void deriveSettingsPath();

// Reads username and password into the credentials; missing ones read as "".
void loadCredentials();

// Reads the `service` value, cut to 255 bytes, into a buffer of 256; "" when
// there is none.
void loadServiceAddress(char* address);

// Reads a further account's section ("Moodshuttle 2" for number 1, up to 8):
// its `service`, `username` and `password` values, each cut to 255 bytes,
// into buffers of 256; missing ones read as "". False when the section is
// not there or holds no key.
bool loadFurtherAccount(unsigned number, char* address, char* username, char* password);

// Stores the pair in memory and writes both keys to the settings file. False
// when a write failed: the pair then holds only for this run. With no
// settings file at all (a path not had whole) nothing is tried.
bool saveCredentials(const char* username, const char* password);
