// File and event handles.
#include "platform/posix/win/files.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tw-files-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'";
        EXPECT_EQ(0, std::system(cmd.c_str()));
    }
    static std::string contents(const std::string &path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    std::string dir_;
};

TEST_F(Files, CreateWriteAndTheDispositions) {
    const std::string path = dir_ + "/graph.log";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError()) << "a new file";
    int fd = tw::posix::fd_from_handle(h);
    EXPECT_GE(fd, 0);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "first line\n", 11, &written, nullptr));
    EXPECT_EQ(11u, written);
    char back[4];
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(h, back, sizeof back, &got, nullptr)) << "opened for writing only";
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_EQ(-1, tw::posix::fd_from_handle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ("first line\n", contents(path));

    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());

    h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError()) << "opened, not made";
    EXPECT_EQ(11u, SetFilePointer(h, 0, nullptr, FILE_END));
    ASSERT_TRUE(WriteFile(h, "second\n", 7, &written, nullptr));
    EXPECT_EQ(0u, SetFilePointer(h, 0, nullptr, FILE_BEGIN));
    char buf[64] = {};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf - 1, &got, nullptr));
    EXPECT_EQ("first line\nsecond\n", std::string(buf, got));
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(0u, got) << "end of file: success with nothing read";
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);

    h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    CloseHandle(h);
    EXPECT_EQ("", contents(path)) << "CREATE_ALWAYS truncates";

    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError()) << "truncating needs write access";
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, 99, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Files, FailuresSayWhy) {
    const std::string missing_dir = dir_ + "/no/such/dir/x.log";
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(missing_dir.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    const std::string missing = dir_ + "/absent.log";
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(dir_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError()) << "a directory";
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = dir_ + "/locked";
        ASSERT_EQ(0, mkdir(locked.c_str(), 0500));
        const std::string inside = locked + "/x.log";
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(inside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    }
    EXPECT_EQ(-1, tw::posix::fd_from_handle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(-1, tw::posix::fd_from_handle(nullptr));
}

TEST_F(Files, WidePathsKeepEveryCharacter) {
    const std::string name = "\xE5\xBD\x95\xE5\x88\xB6 caf\xC3\xA9.log";  // Chinese and Latin-1 letters
    const tw::wstring wide = tw::to_wide(dir_ + "/" + name);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "ok", 2, &written, nullptr));
    CloseHandle(h);
    EXPECT_EQ("ok", contents(dir_ + "/" + name));
    EXPECT_TRUE(DeleteFileW(wide.c_str()));
}

// A file open for reading without write sharing cannot be opened for writing or truncated,
// under any of its names; sharing that is given lets the open through.
TEST_F(Files, SharingFollowsTheFileUnderEveryName) {
    const std::string path = dir_ + "/source.mp4";
    std::ofstream(path) << "the source's bytes";
    ASSERT_EQ(0, symlink(path.c_str(), (dir_ + "/link.mp4").c_str()));
    ASSERT_EQ(0, link(path.c_str(), (dir_ + "/hard.mp4").c_str()));
    ASSERT_EQ(0, chdir(dir_.c_str()));
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);

    for (const std::string &name : {path, std::string("source.mp4"), dir_ + "/./source.mp4", dir_ + "/link.mp4",
                                   dir_ + "/hard.mp4"}) {
        for (DWORD disposition : {CREATE_ALWAYS, TRUNCATE_EXISTING, OPEN_EXISTING, OPEN_ALWAYS}) {
            EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                        nullptr, disposition, 0, nullptr))
                << name << " disposition " << disposition;
            EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError()) << name << " disposition " << disposition;
        }
        // Reading alongside is shared; reading that refuses to share reading is not.
        HANDLE second = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, second) << name;
        CloseHandle(second);
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError()) << name;
    }
    EXPECT_EQ("the source's bytes", contents(path));

    // A writer that lets others read; a reader must then share writing.
    CloseHandle(reader);
    HANDLE writer = CreateFileA((dir_ + "/hard.mp4").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer) << "nothing holds the file any more";
    EXPECT_EQ("", contents(path));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                                nullptr));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
    CloseHandle(writer);
    ASSERT_EQ(0, chdir("/"));
}

// Linux names are bytes: a name that is not UTF-8 goes through the wide API and comes out as
// the same bytes, and UTF-8 converts as it always did.
TEST_F(Files, NamesThatAreNotUtf8KeepTheirBytes) {
    EXPECT_EQ(tw::wstring({0xDCFF, 0xDCFE, 0xDC80}), tw::to_wide("\xFF\xFE\x80"));
    EXPECT_EQ(tw::wstring({u'a', 0xE9, 0x5F55, 0xD83C, 0xDFB5}), tw::to_wide("a\xC3\xA9\xE5\xBD\x95\xF0\x9F\x8E\xB5"));
    EXPECT_EQ("\xEF\xBF\xBD", tw::to_utf8(tw::wstring({0xD800}))) << "a lone surrogate from elsewhere";
    std::mt19937 random(12);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (char &c : bytes) c = static_cast<char>(round % 2 ? random() : 0x80 + random() % 0x80);
        ASSERT_EQ(bytes, tw::to_utf8(tw::to_wide(bytes))) << "round " << round;
    }
    // Cut, overlong and surrogate forms, each byte kept.
    for (const std::string bytes : {"\xE5\xBD", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "x\xE5\xBDy", "\xFF"})
        EXPECT_EQ(bytes, tw::to_utf8(tw::to_wide(bytes)));

    const std::string name = "\xFF\xFE\x80";
    HANDLE h = CreateFileW(tw::to_wide(dir_ + "/" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    std::vector<std::string> names;
    DIR *d = opendir(dir_.c_str());
    ASSERT_NE(nullptr, d);
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    EXPECT_EQ(std::vector<std::string>{name}, names);
    EXPECT_TRUE(DeleteFileW(tw::to_wide(dir_ + "/" + name).c_str()));
}

TEST(Events, AutoAndManualResetAcrossThreads) {
    HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(ready && go);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(ready, 0));
    int stage = 0;
    std::thread worker([&] {
        stage = 1;
        SetEvent(ready);
        WaitForSingleObject(go, INFINITE);
        stage = 2;
        SetEvent(ready);
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, INFINITE));
    EXPECT_EQ(1, stage);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(ready, 0)) << "auto-reset: one wait took it";
    SetEvent(go);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, INFINITE));
    worker.join();
    EXPECT_EQ(2, stage);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(go, 0)) << "manual reset stays set";
    EXPECT_TRUE(ResetEvent(go));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(go, 0));
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, "named"));
    EXPECT_TRUE(CloseHandle(ready));
    EXPECT_TRUE(CloseHandle(go));
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(go, 0));
    EXPECT_FALSE(SetEvent(go));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

    char path[8];
    const DWORD need = GetTempPathA(0, nullptr);
    EXPECT_GT(need, 1u);
    EXPECT_EQ(need, GetTempPathA(sizeof path < need ? sizeof path : 0, path));
}

}  // namespace
