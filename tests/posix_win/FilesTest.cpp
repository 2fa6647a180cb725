// File and event handles.
#include "platform/posix/win/files.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
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
