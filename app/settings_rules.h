// Rules of the settings file that need no Win32: where it lives and how a
// value is written so that the profile reader gives it back unchanged.
#pragma once
#include <cstddef>

// Turns the executable's path into the settings file path in place: the last
// three characters become "ini", whatever they were. `length` is what the
// module file name query returned for a buffer of `capacity` characters. A
// path that was not had whole (nothing, under three characters, or filling the
// buffer, which means it was cut) gives the empty path and false. The program
// takes the path in UTF-16, so folders that the ANSI code page cannot spell
// still name a file; any character type works here.
template <typename Char>
bool settingsPathFromModulePath(Char* path, std::size_t length, std::size_t capacity) {
    if (length < 3 || length >= capacity) {
        if (capacity > 0)
            path[0] = Char();
        return false;
    }
    path[length - 3] = Char('i');
    path[length - 2] = Char('n');
    path[length - 1] = Char('i');
    path[length] = Char();
    return true;
}

// The profile reader drops blanks at both ends of a value and one pair of
// enclosing quotation marks, double or single. A value that would lose
// something that way is written wrapped in one pair of double quotation
// marks; every other value is written as it is.
bool needsQuoting(const char* value);

// Room for a quoted 255-byte value and its terminator.
constexpr std::size_t kQuotedValueSize = 255 + 2 + 1;

// Writes the value as it goes into the file (quoted or not) into dest, which
// has kQuotedValueSize bytes; value holds at most 255 bytes.
void profileValueToWrite(char* dest, const char* value);

// The section of an account (0 is the first): "Moodshuttle" for the first,
// as ever, "Moodshuttle 2" to "Moodshuttle 9" for the further ones. dest
// has room for kSectionNameSize characters; any character type works.
constexpr std::size_t kSectionNameSize = sizeof "Moodshuttle 9";
template <typename Char>
void accountSectionName(Char (&dest)[kSectionNameSize], unsigned account) {
    const char name[] = "Moodshuttle";
    std::size_t i = 0;
    for (; name[i]; ++i)
        dest[i] = Char(name[i]);
    if (account) {
        dest[i++] = Char(' ');
        dest[i++] = Char('1' + account);
    }
    dest[i] = Char();
}
