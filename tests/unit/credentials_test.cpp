// The credentials rule: a reader always takes one whole pair, and the number
// of that very pair.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "../../app/credentials.h"

namespace {

struct Pair {
    std::string username, password;
};

// Long values of different lengths, so a torn copy shows as a mix.
const Pair kFirst = {std::string(200, 'a'), std::string(30, 'b')};
const Pair kSecond = {std::string(40, 'C'), std::string(255, 'D')};

std::atomic<bool> g_reading;
std::atomic<bool> g_writing;

void initOnce() {
    static bool done = (initCredentials(), true);
    (void)done;
}

DWORD WINAPI rewriteManyTimes(LPVOID) {
    while (!g_reading)
        Sleep(0);
    for (int i = 0; i < 200000; ++i) {
        const Pair& p = i % 2 ? kSecond : kFirst;
        storeCredentials(p.username.c_str(), p.password.c_str());
    }
    g_writing = false;
    return 0;
}

TEST(Credentials, ReadersNeverSeeAMixedPair) {
    initOnce();
    storeCredentials(kFirst.username.c_str(), kFirst.password.c_str());
    // The writer stores the first pair at odd numbers from here on, the second at even ones.
    const long base = credentialsNumber(0);
    g_writing = true;
    HANDLE writer = CreateThread(NULL, 0, rewriteManyTimes, NULL, 0, NULL);
    ASSERT_TRUE(writer);
    int reads = 0, first = 0, second = 0;
    while (g_writing || reads < 1000) {
        g_reading = true;
        char username[kCredentialSize], password[kCredentialSize];
        long number = copyCredentials(0, username, password) - base;
        bool isFirst = kFirst.username == username && kFirst.password == password;
        bool isSecond = kSecond.username == username && kSecond.password == password;
        ASSERT_TRUE(isFirst || isSecond) << "read " << reads << ": [" << username << "] [" << password << "]";
        ASSERT_EQ(isFirst, number == 0 || number % 2 == 1) << "read " << reads << ": number " << number;
        first += isFirst;
        second += isSecond;
        ++reads;
    }
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
    // Both pairs were seen, so the reads did overlap the rewriting.
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
}

TEST(Credentials, ValuesAreCutTo255Bytes) {
    initOnce();
    std::string longName(300, 'n'), longPassword(256, 'p');
    storeCredentials(longName.c_str(), longPassword.c_str());
    char username[kCredentialSize], password[kCredentialSize];
    copyCredentials(0, username, password);
    EXPECT_EQ(std::string(username), std::string(255, 'n'));
    EXPECT_EQ(std::string(password), std::string(255, 'p'));
    storeCredentials("", "");
    copyCredentials(0, username, password);
    EXPECT_STREQ(username, "");
    EXPECT_STREQ(password, "");
}

}  // namespace
