#include "link_text.h"

#include <cstring>

namespace {

const char kProtocolCommand[] = "PROTOCOL 5";
const char kMoodPrefix[] = "PROFILE MOOD_TEXT ";

std::size_t boundedLength(const char* data, std::size_t size) {
    const void* end = std::memchr(data, '\0', size);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - data) : size;
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

std::size_t moodBlockSize(const char* data, std::size_t size) {
    return boundedLength(data, size) + 1;
}

void copyMoodText(char* dest, const char* data, std::size_t size) {
    std::size_t length = boundedLength(data, size);
    std::size_t textLength = length > kMoodPrefixSize ? length - kMoodPrefixSize : 0;
    std::memcpy(dest, data + kMoodPrefixSize, textLength);
    dest[textLength] = '\0';
}
