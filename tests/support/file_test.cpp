#include "support/file.h"

#include "tests/common/files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;
using srLib::CFile;

namespace {

class FileTest : public testing::Test {
protected:
    const std::wstring m_folder = MakeScratchFolder(L"file");
    const std::wstring m_path = m_folder + L"\\data.bin";
};

TEST_F(FileTest, ReadsAndWritesEveryByteAtA64BitPosition)
{
    CFile file;
    ASSERT_TRUE(file.Open(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    const char payload[] = "payload beyond four gigabytes";
    ASSERT_TRUE(file.WriteAt(0xFFFFFFF0, 0, payload, sizeof(payload)));
    EXPECT_EQ(0xFFFFFFF0ull + sizeof(payload), file.GetPosition()) << "the write crossed the 32-bit boundary";
    ASSERT_TRUE(file.Seek(0x100000004ull));
    char tail[4] = {};
    ASSERT_TRUE(file.Read(tail, 4));
    EXPECT_EQ(std::string(payload + 20, 4), std::string(tail, 4));
    ASSERT_TRUE(file.SetLength(0x00000010, 1));
    EXPECT_EQ(0x100000010ull, file.GetLength());
    EXPECT_TRUE(file.Seek(-4, -1, FILE_CURRENT));
    EXPECT_EQ(0x10000000Cull, file.GetPosition());
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(file.Seek(0xFFFFFFFFull)) << "a low half of 0xFFFFFFFF is a position";
}

TEST_F(FileTest, FailuresKeepTheirCodeAndLeaveOutputsZero)
{
    WriteFileBytes(m_path, {1, 2, 3, 4});
    CFile file;
    ASSERT_TRUE(file.Open(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[10];
    EXPECT_FALSE(file.Read(buffer, 10)) << "only 4 bytes remain";
    EXPECT_FALSE(file.Write("abc", 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file.GetLastError());
    EXPECT_FALSE(file.Seek(-1, -1, FILE_BEGIN));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), file.GetLastError());
    EXPECT_TRUE(file.Read(buffer, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), file.GetLastError()) << "not reset by a success";

    EXPECT_FALSE(file.Open((m_folder + L"\\missing.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), file.GetLastError());
    ULONGLONG value = 99;
    EXPECT_FALSE(file.GetLength(value));
    EXPECT_EQ(0ull, value);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), file.GetLastError());

    ASSERT_TRUE(file.Open(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    CFile taker(std::move(file));
    const HANDLE handle = taker.GetHandle();
    SetLastError(4321);
    taker.Attach(static_cast<HANDLE>(nullptr));
    EXPECT_EQ(4321u, GetLastError()) << "closing keeps the thread's last error";
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(handle, &flags));
}

// The levels are created in turn; a file on the way stops the call. A path of MAX_PATH characters
// or more gets no backslash added, so its last level is neither reached nor traced.
TEST_F(FileTest, MakeSureDirectoryExistsCreatesEveryLevelBelowMaxPath)
{
    const std::wstring deep = m_folder + L"\\a\\b\\c";
    EXPECT_TRUE(CFile::MakeSureDirectoryExists(deep.c_str()));
    EXPECT_TRUE(FileExists(deep));
    EXPECT_TRUE(CFile::MakeSureDirectoryExists((deep + L"\\").c_str())) << "all there already";
    WriteFileBytes(m_folder + L"\\plain", {1});
    EXPECT_FALSE(CFile::MakeSureDirectoryExists((m_folder + L"\\plain\\below").c_str())) << "a file on the way";
    const std::wstring longParent = m_folder + L"\\" + std::wstring(240 - m_folder.size(), L'l');
    const std::wstring longPath = longParent + L"\\" + std::wstring(30, L'm');
    EXPECT_TRUE(CFile::MakeSureDirectoryExists(longPath.c_str()));
    EXPECT_TRUE(FileExists(longParent));
    EXPECT_FALSE(FileExists(longPath));
    RemoveDirectoryW(longParent.c_str());
}

} // namespace
