// The link's texts: the mood notification test and copy on exactly `size`
// readable bytes (an overread is ASan's to catch), its bound and its cut on a
// UTF-8 sequence, and the command text.
#include <algorithm>
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
        const std::string whole = given.substr(prefix.size(), given.find('\0') - prefix.size());
        std::size_t blockSize = moodBlockSize(data, size);
        if (blockSize > kMoodBytesMax + 1 || blockSize + 3 < std::min(whole.size(), kMoodBytesMax) + 1 ||
            (whole.size() <= kMoodBytesMax && blockSize != whole.size() + 1))
            fail("block size is not the text's length, or the bound less at most 3, plus one");
        const std::string text = whole.substr(0, blockSize - 1);
        // A cut short of the bound ends before a whole sequence that went with it.
        if (text.size() < whole.size()) {
            std::size_t lead = text.size();
            std::size_t need = (whole[lead] & 0xF8) == 0xF0 ? 4 : (whole[lead] & 0xF0) == 0xE0 ? 3 : 2;
            bool sequence = (whole[lead] & 0xC0) == 0xC0 && (whole[lead] & 0xF8) != 0xF8 &&
                            lead + need > kMoodBytesMax && lead + need <= whole.size();
            for (std::size_t i = lead + 1; sequence && i < lead + need; ++i)
                sequence = (whole[i] & 0xC0) == 0x80;
            if (text.size() < kMoodBytesMax && !sequence)
                fail("cut short of the bound but not before a sequence that straddles it");
        }
        char* block = new char[blockSize];
        std::memset(block, 0x5A, blockSize);  // the copy must terminate by itself
        copyMoodText(block, data, size);
        if (block[text.size()] != '\0' || text.compare(0, text.size(), block, text.size()) != 0)
            fail("copy is not the text after the prefix up to the terminator and the bound");
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
