#include "support/file.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;
using srLib::CFile;

namespace {

class FileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeScratchFolder(Widen(testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_path = m_folder + L"\\data.bin";
    }

    BOOL OpenForReadWrite(CFile& file)
    {
        return file.Open(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    }

    std::wstring m_folder;
    std::wstring m_path;
};

TEST_F(FileTest, ReadsAndWritesEveryByteAtA64BitPosition)
{
    CFile file;
    ASSERT_TRUE(OpenForReadWrite(file));
    const char payload[] = "payload beyond four gigabytes";
    ASSERT_TRUE(file.WriteAt(0xFFFFFFF0, 0, payload, sizeof(payload)));
    ULONGLONG length = 0;
    EXPECT_TRUE(file.GetLength(length));
    EXPECT_EQ(0xFFFFFFF0ull + sizeof(payload), length);
    EXPECT_EQ(length, file.GetPosition()) << "the write crossed the 32-bit boundary";
    char back[sizeof(payload)] = {};
    ASSERT_TRUE(file.ReadAt(0xFFFFFFF0, 0, back, sizeof(back)));
    EXPECT_STREQ(payload, back);
    ASSERT_TRUE(file.Seek(0x100000004ull));
    char tail[4] = {};
    ASSERT_TRUE(file.Read(tail, 4));
    EXPECT_EQ(0, std::memcmp(payload + 20, tail, 4));

    ASSERT_TRUE(file.SetLength(0x00000010, 1));
    EXPECT_EQ(0x100000010ull, file.GetLength());
    EXPECT_EQ(0x100000010ull, file.GetPosition()) << "the pointer stands at the new end";
    ASSERT_TRUE(file.SetLength(3));
    EXPECT_TRUE(file.SeekToBegin());
    EXPECT_EQ(0ull, file.GetPosition());
    EXPECT_TRUE(file.SeekToEnd());
    EXPECT_EQ(3ull, file.GetPosition());
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(file.Seek(0xFFFFFFFFull)) << "a low half of 0xFFFFFFFF is a position";
    EXPECT_TRUE(file.Seek(-4, -1, FILE_CURRENT));
    EXPECT_EQ(0xFFFFFFFBull, file.GetPosition());
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(0u, file.GetLastError());
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
    // Wine answers ERROR_INVALID_PARAMETER here where Windows answers ERROR_ACCESS_DENIED.
    EXPECT_FALSE(file.SetLength(1));
    EXPECT_NE(0u, file.GetLastError());
    EXPECT_FALSE(file.Seek(-1, -1, FILE_BEGIN));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), file.GetLastError());
    EXPECT_TRUE(file.Read(buffer, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), file.GetLastError()) << "not reset by a success";
    EXPECT_TRUE(file.CanRead());
    EXPECT_FALSE(file.CanWrite());

    ASSERT_TRUE(file.Open(m_path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.CanRead());
    EXPECT_TRUE(file.CanWrite());
    EXPECT_FALSE(file.ReadAt(0, 0, buffer, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file.GetLastError());

    const HANDLE held = file.GetHandle();
    EXPECT_FALSE(file.Open(L"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.Open(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(held, file.GetHandle()) << "no name: the open file stays";
    EXPECT_FALSE(file.Open((m_folder + L"\\missing.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), file.GetLastError());

    ULONGLONG value = 99;
    EXPECT_FALSE(file.GetLength(value));
    EXPECT_EQ(0ull, value);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), file.GetLastError());
    value = 99;
    EXPECT_FALSE(file.GetPosition(value));
    EXPECT_EQ(0ull, value);
}

TEST_F(FileTest, OwnershipMovesExplicitly)
{
    CFile first;
    ASSERT_TRUE(OpenForReadWrite(first));
    const HANDLE handle = first.GetHandle();
    CFile second;
    EXPECT_TRUE(second.Attach(first));
    EXPECT_FALSE(first.IsOpen());
    second = handle;
    EXPECT_TRUE(second.Write("x", 1)) << "assigning the held handle keeps it open";
    CFile third(std::move(second));
    EXPECT_EQ(nullptr, second.GetHandle());
    EXPECT_EQ(handle, third.GetHandle());
    SetLastError(4321);
    third.Attach(static_cast<HANDLE>(nullptr));
    EXPECT_EQ(4321u, GetLastError()) << "closing keeps the thread's last error";
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(handle, &flags)) << "attaching closed the old handle";
}

TEST_F(FileTest, DeleteAtOnceOrOnLastClose)
{
    WriteFileBytes(m_path, {1, 2, 3});
    EXPECT_TRUE(CFile::Delete(m_path.c_str(), FALSE));
    EXPECT_FALSE(FileExists(m_path));
    EXPECT_FALSE(CFile::Delete(m_path.c_str(), FALSE));
    EXPECT_TRUE(CFile::Delete(m_path.c_str(), TRUE)) << "a missing file is created and deleted";
    EXPECT_FALSE(FileExists(m_path));
    WriteFileBytes(m_path, std::vector<unsigned char>(5000, 7));
    EXPECT_TRUE(CFile::Delete(m_path.c_str(), TRUE));
    EXPECT_FALSE(FileExists(m_path));

    CFile holder;
    ASSERT_TRUE(holder.Open(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_FALSE(CFile::Delete(m_path.c_str(), TRUE)) << "the truncating delete shares nothing";
}

TEST_F(FileTest, MakeSureDirectoryExistsCreatesEveryLevel)
{
    static std::vector<std::wstring> tested;
    static std::wstring denied;
    static DWORD deniedError = ERROR_ACCESS_DENIED;
    // A function of the platform's calling convention, which a lambda cannot have on 32-bit.
    struct Recording {
        static DWORD WINAPI Query(LPCWSTR path)
        {
            tested.push_back(path);
            if (path != denied)
                return GetFileAttributesW(path);
            SetLastError(deniedError);
            return INVALID_FILE_ATTRIBUTES;
        }
    };
    const auto isFolder = [](const std::wstring& path) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    };

    const std::wstring deep = m_folder + L"\\a\\b\\c";
    EXPECT_TRUE(CFile::MakeSureDirectoryExists(deep.c_str(), &Recording::Query));
    EXPECT_TRUE(isFolder(deep));
    ASSERT_GE(tested.size(), 4u);
    EXPECT_EQ(m_folder.substr(0, 2), tested.front()) << "the drive first";
    EXPECT_EQ(std::vector<std::wstring>({m_folder, m_folder + L"\\a", m_folder + L"\\a\\b", deep}),
              std::vector<std::wstring>(tested.end() - 4, tested.end()));
    EXPECT_TRUE(CFile::MakeSureDirectoryExists((deep + L"\\").c_str(), &Recording::Query)) << "all there already";

    // A level the caller may not read still lets the deeper ones be created; another error ends the loop.
    CreateDirectoryW((m_folder + L"\\locked").c_str(), nullptr);
    denied = m_folder + L"\\locked";
    EXPECT_TRUE(CFile::MakeSureDirectoryExists((denied + L"\\inner").c_str(), &Recording::Query));
    EXPECT_TRUE(isFolder(denied + L"\\inner"));
    deniedError = ERROR_INVALID_NAME;
    EXPECT_FALSE(CFile::MakeSureDirectoryExists((denied + L"\\other").c_str(), &Recording::Query));
    EXPECT_FALSE(isFolder(denied + L"\\other"));

    // A path of MAX_PATH characters or more gets no backslash added: its last level is not reached.
    const std::wstring longParent = m_folder + L"\\" + std::wstring(240 - m_folder.size(), L'l');
    const std::wstring longPath = longParent + L"\\" + std::wstring(30, L'm');
    EXPECT_TRUE(CFile::MakeSureDirectoryExists(longPath.c_str()));
    EXPECT_TRUE(isFolder(longParent));
    EXPECT_FALSE(isFolder(longPath));
    RemoveDirectoryW(longParent.c_str());

    WriteFileBytes(m_folder + L"\\plain", {1});
    EXPECT_FALSE(CFile::MakeSureDirectoryExists((m_folder + L"\\plain\\below").c_str())) << "a file on the way";
    EXPECT_FALSE(CFile::MakeSureDirectoryExists(L"Q:\\nowhere"));
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(CFile::MakeSureDirectoryExists(deep.c_str()));
    supporttest::DisarmAllocationFailure();
}

} // namespace
