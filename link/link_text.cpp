#include "link_text.h"

#include <cstring>

namespace {

const char kProtocolCommand[] = "PROTOCOL 5";
const char kMoodPrefix[] = "PROFILE MOOD_TEXT ";

std::size_t boundedLength(const char* data, std::size_t size) {
    const void* end = std::memchr(data, '\0', size);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - data) : size;
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes of the sequence a lead byte starts; 1 for any byte that starts none.
std::size_t sequenceLength(char lead) {
    unsigned char c = static_cast<unsigned char>(lead);
    return c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC0 && c < 0xE0 ? 2 : 1;
}

// Where to cut `text`, `length` bytes long, so that it keeps at most `most`
// bytes and no sequence whose lead and continuation bytes straddle the cut.
// Bytes that make no sequence are kept as they are: the poster makes them
// U+FFFD.
std::size_t utf8Cut(const char* text, std::size_t length, std::size_t most) {
    if (length <= most)
        return length;
    std::size_t lead = most;
    while (lead > 0 && most - lead < 3 && isContinuation(text[lead]))
        --lead;
    std::size_t end = lead + sequenceLength(text[lead]);
    if (lead == most || end <= most || end > length)
        return most;
    for (std::size_t i = lead + 1; i < end; ++i) {
        if (!isContinuation(text[i]))
            return most;
    }
    return lead;
}

}  // namespace

std::size_t commandTextSize(const char* command) {
    return std::strlen(command) + 2;
}

void commandText(char* dest, const char* command) {
    // dest holds commandTextSize(command) bytes; all but the space's are the
    // command and its terminator.
    std::size_t commandSize = commandTextSize(command) - 1;
    if (std::strcmp(command, kProtocolCommand) != 0)
        *dest++ = ' ';
    std::memcpy(dest, command, commandSize);
}

bool isMoodNotification(const char* data, std::size_t size) {
    return data && size > kMoodPrefixSize && std::memcmp(data, kMoodPrefix, kMoodPrefixSize) == 0;
}

std::size_t moodTextLength(const char* data, std::size_t size) {
    // Only as far as the cut may look: the kept bytes and the rest of a
    // sequence that starts among them.
    std::size_t seen = size - kMoodPrefixSize < kMoodBytesMax + 3 ? size - kMoodPrefixSize : kMoodBytesMax + 3;
    const char* text = data + kMoodPrefixSize;
    return utf8Cut(text, boundedLength(text, seen), kMoodBytesMax);
}

std::size_t moodBlockSize(const char* data, std::size_t size) {
    return moodTextLength(data, size) + 1;
}

void copyMoodText(char* dest, const char* data, std::size_t size) {
    std::size_t length = moodTextLength(data, size);
    std::memcpy(dest, data + kMoodPrefixSize, length);
    dest[length] = '\0';
}
