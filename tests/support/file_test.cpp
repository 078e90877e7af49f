#include "support/file.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/support/allocation.h"
#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;
using srLib::CFile;
using supporttest::CTraceCapture;

namespace {

std::string Code(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", code);
    return text;
}

class FileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeScratchFolder(Widen(testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_path = m_folder + L"\\data.bin";
    }

    BOOL OpenForReadWrite(CFile& file, DWORD disposition = OPEN_ALWAYS)
    {
        return file.Open(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
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
    EXPECT_EQ(3ull, file.GetLength());
    EXPECT_TRUE(file.SeekToBegin());
    EXPECT_EQ(0ull, file.GetPosition());
    EXPECT_TRUE(file.SeekToEnd());
    EXPECT_EQ(3ull, file.GetPosition());
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(0u, file.GetLastError());
}

TEST_F(FileTest, ShortTransfersFailAndKeepTheCode)
{
    WriteFileBytes(m_path, {1, 2, 3, 4});
    CTraceCapture capture;
    CFile file;
    ASSERT_TRUE(file.Open(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[10];
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(file.Read(buffer, 10)) << "only 4 bytes remain";
    EXPECT_EQ(0u, file.GetLastError());
    EXPECT_EQ("Error : CFile::Read() : ReadFile() == FALSE, 0x00000000\n", capture.Take());

    EXPECT_FALSE(file.Write("abc", 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file.GetLastError());
    EXPECT_EQ("Error : CFile::Write() : WriteFile() == FALSE, " + Code(ERROR_ACCESS_DENIED) + "\n", capture.Take());
    // Wine answers ERROR_INVALID_PARAMETER here where Windows answers ERROR_ACCESS_DENIED.
    EXPECT_FALSE(file.SetLength(1));
    EXPECT_NE(0u, file.GetLastError());
    EXPECT_EQ("Error : CFile::SetLength() : SetEndOfFile() == FALSE, " + Code(file.GetLastError()) + "\n",
              capture.Take());
    EXPECT_TRUE(file.CanRead());
    EXPECT_FALSE(file.CanWrite());
    EXPECT_EQ("", capture.Take()) << "the checks trace nothing";
    const DWORD kept = file.GetLastError();
    SetLastError(ERROR_SUCCESS);
    EXPECT_TRUE(file.Read(buffer, 0));
    EXPECT_EQ(kept, file.GetLastError()) << "not reset by a success";

    ASSERT_TRUE(file.Open(m_path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.CanRead());
    EXPECT_TRUE(file.CanWrite());
    EXPECT_FALSE(file.ReadAt(0, 0, buffer, 1));
    EXPECT_EQ("Error : CFile::Read() : ReadFile() == FALSE, " + Code(ERROR_ACCESS_DENIED) + "\n", capture.Take());
}

TEST_F(FileTest, PositionsAndLengths)
{
    CTraceCapture capture;
    CFile file;
    ASSERT_TRUE(OpenForReadWrite(file));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(file.Seek(0xFFFFFFFFull)) << "a low half of 0xFFFFFFFF is a position";
    EXPECT_EQ(0xFFFFFFFFull, file.GetPosition());
    EXPECT_TRUE(file.Seek(-4, -1, FILE_CURRENT));
    EXPECT_EQ(0xFFFFFFFBull, file.GetPosition());
    EXPECT_EQ("", capture.Take());

    EXPECT_FALSE(file.Seek(-1, -1, FILE_BEGIN));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), file.GetLastError());
    EXPECT_EQ("Error : CFile::Seek() : SetFilePointer() == INVALID_SET_FILE_POINTER, " + Code(ERROR_NEGATIVE_SEEK)
                  + "\n",
              capture.Take());

    CFile closed;
    ULONGLONG value = 99;
    EXPECT_FALSE(closed.GetLength(value));
    EXPECT_EQ(0ull, value);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), closed.GetLastError());
    EXPECT_EQ(0ull, closed.GetLength());
    value = 99;
    EXPECT_FALSE(closed.GetPosition(value));
    EXPECT_EQ(0ull, value);
    const std::string invalid = Code(ERROR_INVALID_HANDLE) + "\n";
    EXPECT_EQ("Error : CFile::GetLength() : GetFileSize() == INVALID_FILE_SIZE, " + invalid
                  + "Error : CFile::GetLength() : GetFileSize() == INVALID_FILE_SIZE, " + invalid
                  + "Error : CFile::GetPosition() : SetFilePointer() == INVALID_SET_FILE_POINTER, " + invalid,
              capture.Take());
}

TEST_F(FileTest, OpenRefusesNoNameAndTracesFailures)
{
    CTraceCapture capture;
    CFile file;
    ASSERT_TRUE(OpenForReadWrite(file));
    const HANDLE held = file.GetHandle();
    EXPECT_FALSE(file.Open(L"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.Open(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(held, file.GetHandle());
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(0u, file.GetLastError());
    EXPECT_EQ("Error : CFile::Open() : szFileName == NULL\nError : CFile::Open() : szFileName == NULL\n", capture.Take());

    const std::wstring missing = m_folder + L"\\missing.bin";
    EXPECT_FALSE(file.Open(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), file.GetLastError());
    EXPECT_EQ("Error : CFile::Open() : CreateFile() == INVALID_HANDLE_VALUE, " + Narrow(missing) + ", "
                  + Code(ERROR_FILE_NOT_FOUND) + "\n",
              capture.Take());
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
    CTraceCapture capture;
    WriteFileBytes(m_path, {1, 2, 3});
    EXPECT_TRUE(CFile::Delete(m_path.c_str(), FALSE));
    EXPECT_FALSE(FileExists(m_path));
    EXPECT_FALSE(CFile::Delete(m_path.c_str(), FALSE));
    EXPECT_EQ("Error : CFile::Delete() : ::DeleteFile() == FALSE, " + Code(ERROR_FILE_NOT_FOUND) + "\n",
              capture.Take());

    EXPECT_TRUE(CFile::Delete(m_path.c_str(), TRUE)) << "a missing file is created and deleted";
    EXPECT_FALSE(FileExists(m_path));

    WriteFileBytes(m_path, std::vector<unsigned char>(5000, 7));
    EXPECT_TRUE(CFile::Delete(m_path.c_str(), TRUE));
    EXPECT_FALSE(FileExists(m_path));
    EXPECT_EQ("", capture.Take());

    CFile holder;
    ASSERT_TRUE(holder.Open(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_FALSE(CFile::Delete(m_path.c_str(), TRUE)) << "the truncating delete shares nothing";
    const std::string sharing = Code(ERROR_SHARING_VIOLATION);
    EXPECT_EQ("Error : CFile::Open() : CreateFile() == INVALID_HANDLE_VALUE, " + Narrow(m_path) + ", " + sharing
                  + "\nError : CFile::Delete() : deleteFile.Open() == FALSE, " + sharing + "\n",
              capture.Take());
}

TEST_F(FileTest, MakeSureDirectoryExistsCreatesEveryLevel)
{
    static std::vector<std::wstring> tested;
    static std::wstring denied;
    static DWORD otherError;
    // A function of the platform's calling convention, which a lambda cannot have on 32-bit.
    struct Recording {
        static DWORD WINAPI Query(LPCWSTR path)
        {
            tested.push_back(path);
            if (path == denied) {
                SetLastError(otherError != 0 ? otherError : ERROR_ACCESS_DENIED);
                return INVALID_FILE_ATTRIBUTES;
            }
            return GetFileAttributesW(path);
        }
    };
    const auto recording = &Recording::Query;
    CTraceCapture capture;

    const std::wstring deep = m_folder + L"\\a\\b\\c";
    EXPECT_TRUE(CFile::MakeSureDirectoryExists(deep.c_str(), recording));
    EXPECT_TRUE(GetFileAttributesW(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    const size_t levels = tested.size();
    ASSERT_GE(levels, 4u);
    EXPECT_EQ(m_folder.substr(0, 2), tested.front()) << "the drive first";
    EXPECT_EQ(std::vector<std::wstring>({m_folder, m_folder + L"\\a", m_folder + L"\\a\\b", deep}),
              std::vector<std::wstring>(tested.end() - 4, tested.end()));
    EXPECT_TRUE(CFile::MakeSureDirectoryExists((deep + L"\\").c_str(), recording)) << "all there already";
    EXPECT_EQ("", capture.Take());

    // A level the caller may not read still lets the deeper ones be created.
    CreateDirectoryW((m_folder + L"\\locked").c_str(), nullptr);
    denied = m_folder + L"\\locked";
    EXPECT_TRUE(CFile::MakeSureDirectoryExists((denied + L"\\inner").c_str(), recording));
    EXPECT_TRUE(GetFileAttributesW((denied + L"\\inner").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ("Warning : CFile::GetFileAttributes( path '" + Narrow(denied) + "' ) == INVALID_FILE_ATTRIBUTES, "
                  + Code(ERROR_ACCESS_DENIED) + "\n",
              capture.Take());

    otherError = ERROR_INVALID_NAME;
    EXPECT_FALSE(CFile::MakeSureDirectoryExists((denied + L"\\other").c_str(), recording));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((denied + L"\\other").c_str())) << "the loop ends there";
    EXPECT_EQ("Error : CFile::GetFileAttributes( path '" + Narrow(denied) + "' ) == INVALID_FILE_ATTRIBUTES, "
                  + Code(ERROR_INVALID_NAME) + "\n",
              capture.Take());

    // A path of MAX_PATH characters or more gets no backslash added: its last level is not reached.
    const std::wstring longParent = m_folder + L"\\" + std::wstring(240 - m_folder.size(), L'l');
    const std::wstring longPath = longParent + L"\\" + std::wstring(30, L'm');
    ASSERT_GE(longPath.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_TRUE(CFile::MakeSureDirectoryExists(longPath.c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(longParent.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(longPath.c_str()));
    RemoveDirectoryW(longParent.c_str());
    EXPECT_EQ("", capture.Take());

    WriteFileBytes(m_folder + L"\\plain", {1});
    EXPECT_FALSE(CFile::MakeSureDirectoryExists((m_folder + L"\\plain\\below").c_str()));
    EXPECT_EQ("Error : CFile::MakeSureDirectoryExists() : Path '" + Narrow(m_folder)
                  + "\\plain' does not have FILE_ATTRIBUTE_DIRECTORY attribute (0x00000020).\n",
              capture.Take());

    const std::wstring badDrive = L"Q:\\nowhere";
    EXPECT_FALSE(CFile::MakeSureDirectoryExists(badDrive.c_str()));
    EXPECT_NE(std::string::npos, capture.Take().find("Error : CFile::MakeSureDirectoryExists() : CreateDirectory( path "
                                                     "'Q:' ) == FALSE, "));

    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(CFile::MakeSureDirectoryExists(deep.c_str()));
    supporttest::DisarmAllocationFailure();
    EXPECT_EQ("Error : int __cdecl srLib::CFile::MakeSureDirectoryExists(const wchar_t *) throw() : CCCATCH : "
              "std::bad_alloc, " + std::string(std::bad_alloc().what())
                  + "\nError : CFile::MakeSureDirectoryExists() : memory exception handled\n",
              capture.Take());
}

} // namespace
