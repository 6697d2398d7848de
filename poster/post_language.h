// The language a post is marked with: the user's display language.
#pragma once

#include "record_body.h"

// The ISO 639 code of the user's display language as the system's own
// locale data names it ("en", "ja", "de"), or "" where it names none.
void userLanguage(char (&code)[kLanguageMax + 1]);
