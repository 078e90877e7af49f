#include "framework/pendingrename.h"

#include "tests/common/files.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPending[] = L"PendingFileRenameOperations";

// A list written as its exact characters: "A|B||C||" with | for each zero character.
std::wstring List(std::wstring text)
{
    for (wchar_t& c : text)
        if (c == L'|')
            c = L'\0';
    return text;
}

std::wstring StoredList()
{
    const auto value = GetRaw(kSessionManager, kPending);
    if (!value)
        return L"<missing>";
    return std::wstring(reinterpret_cast<const wchar_t*>(value->data.data()), value->data.size() / sizeof(wchar_t));
}

TEST(PendingRenameRepair, DropsOnlyStrayEmptyStringsWherePairsBegin)
{
    const std::wstring wellFormed = List(L"\\??\\A|\\??\\B|\\??\\C||\\??\\D|||");
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {List(L"\\??\\A|\\??\\B||\\??\\C|||"), List(L"\\??\\A|\\??\\B|\\??\\C|||")},
        {List(L"|\\??\\A||\\??\\B|\\??\\C||"), List(L"\\??\\A||\\??\\B|\\??\\C||")},
        {List(L"\\??\\A|||||\\??\\B|||"), List(L"\\??\\A||\\??\\B|||")},
        {wellFormed, wellFormed},
        {L"", L"<missing>"},
    };
    for (const auto& [stored, expected] : cases) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
        if (!stored.empty())
            SetRaw(kSessionManager, kPending, REG_MULTI_SZ, stored.data(),
                   static_cast<DWORD>(stored.size() * sizeof(wchar_t)));
        FixPendingRenameKeyNT();
        EXPECT_EQ(expected, StoredList());
    }
}

TEST(PendingRenameRepair, DeletesNowOrSchedulesFilesInUse)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    const std::wstring folder = MakeScratchFolder(L"pending rename");
    const std::wstring file = folder + L"\\held file.dat";
    WriteFileBytes(file, {4, 5, 6});
    const HANDLE holder = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(kDeleteAtRestart, DeleteFileNowOrAtRestart(file.c_str()));
    CloseHandle(holder);
    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(file.c_str(), shortPath, MAX_PATH), 0u);
    const std::wstring list = StoredList();
    // The source, then an empty destination and the end of the list.
    EXPECT_EQ(std::wstring(shortPath) + std::wstring(3, L'\0'), list.substr(list.size() - wcslen(shortPath) - 3));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    EXPECT_EQ(kDeleted, DeleteFileNowOrAtRestart(file.c_str()));
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(kNothingToDelete, DeleteFileNowOrAtRestart(file.c_str()));
    EXPECT_EQ(L"<missing>", StoredList()) << "nothing scheduled for a deleted file";
    RemoveTree(folder);
}

} // namespace
