// What the platform's URL parser leaves unchecked in the service address
// the settings may name: no Win32 here, so this also builds natively for
// tests and fuzzing.
#pragma once

// Checks an absolute address, "scheme://host[:port]/path", for what the
// parser lets through: a user name or password before the host (they belong
// in the settings' own keys, not in an address), a port outside 1 to 65535
// (which it would wrap or take as 0), and blanks or control characters
// (which would break the request line). Returns the port as written, 0 when
// none is written, or -1 when the address fails any of these or has no
// "//" before its host.
long servicePort(const char* address);
