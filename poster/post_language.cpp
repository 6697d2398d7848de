#include "post_language.h"

#include <windows.h>

void userLanguage(char (&code)[kLanguageMax + 1]) {
    char name[9] = "";
    LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    int length = GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, name, sizeof name);
    // Two or three small letters, as ISO 639 writes a language, or nothing:
    // anything else would be refused by the servers with the whole post.
    bool usable = length == 3 || length == 4;
    for (int i = 0; usable && i < length - 1; ++i)
        usable = name[i] >= 'a' && name[i] <= 'z';
    code[0] = '\0';
    if (usable)
        lstrcpynA(code, name, sizeof code);
}
