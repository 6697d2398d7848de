// The link's texts: the mood notification test and copy on exactly `size`
// readable bytes (an overread is ASan's to catch), and the command text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../link/link_text.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "link text: %s\n", why);
    std::abort();
}

void checkMood(const std::uint8_t* bytes, std::size_t size) {
    char* data = new char[size];
    std::memcpy(data, bytes, size);
    const std::string given(data, size);
    const std::string prefix = "PROFILE MOOD_TEXT ";
    bool mood = isMoodNotification(data, size);
    if (mood != (size > prefix.size() && given.compare(0, prefix.size(), prefix) == 0))
        fail("mood test disagrees with the prefix rule");
    if (mood) {
        const std::string text = given.substr(prefix.size(), given.find('\0') - prefix.size());
        std::size_t blockSize = moodBlockSize(data, size);
        if (blockSize != prefix.size() + text.size() + 1)
            fail("block size is not the length up to the terminator plus one");
        char* block = new char[blockSize];
        std::memset(block, 0x5A, blockSize);  // the copy must terminate by itself
        copyMoodText(block, data, size);
        if (block[text.size()] != '\0' || text.compare(0, text.size(), block, text.size()) != 0)
            fail("copy is not the text after the prefix up to the terminator");
        delete[] block;
    }
    delete[] data;
}

void checkCommand(const std::uint8_t* bytes, std::size_t size) {
    const std::string command(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
    const std::string expected = command == "PROTOCOL 5" ? command : " " + command;
    std::size_t room = commandTextSize(command.c_str());
    if (room < expected.size() + 1)
        fail("command text size too small");
    char* text = new char[room];
    commandText(text, command.c_str());
    if (expected != text)
        fail("command text");
    delete[] text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkMood(data, size);
    checkCommand(data, size);
    return 0;
}
