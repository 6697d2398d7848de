// The account name and password, shared between the main thread (start-up
// and the Option dialog write them) and poster threads (which read them).
// Both are always replaced and taken as one pair under one lock, so no poster
// sees a name from one pair and a password from another. Those are the first
// account's; a further account's pair is stored once by start-up, before any
// poster starts, and never changes, so it needs no lock.
#pragma once

constexpr unsigned kCredentialSize = 256;  // 255 bytes of text and the terminator

// Must run once on the main thread before any other call here.
void initCredentials();

// Replaces both values; each is cut to 255 bytes. Every pair stored, the
// same as the last or not, gets the next number: what was learnt of the
// account under an earlier one (a session, a refusal) is not its own.
void storeCredentials(const char* username, const char* password);

// Stores a further account's pair (account 1 and up), cut as above; start-up
// only. Its number is always 1.
void storeFurtherCredentials(unsigned account, const char* username, const char* password);

// Copies an account's values into buffers of kCredentialSize bytes; returns
// the pair's number, taken with it.
long copyCredentials(unsigned account, char* username, char* password);

// The number of an account's pair stored last.
long credentialsNumber(unsigned account);
