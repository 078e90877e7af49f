#include "framework/pendingrename.h"

#include "tests/common/child.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
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
std::wstring List(const std::wstring& text)
{
    std::wstring list = text;
    for (wchar_t& c : list)
        if (c == L'|')
            c = L'\0';
    return list;
}

void StoreList(const std::wstring& list)
{
    SetRaw(kSessionManager, kPending, REG_MULTI_SZ, list.data(), static_cast<DWORD>(list.size() * sizeof(wchar_t)));
}

std::wstring StoredList()
{
    const auto value = GetRaw(kSessionManager, kPending);
    if (!value)
        return L"<missing>";
    return std::wstring(reinterpret_cast<const wchar_t*>(value->data.data()), value->data.size() / sizeof(wchar_t));
}

SUBMCA_CHILD(FixPendingRenames)
{
    FixPendingRenameKeyNT();
    return 0;
}

// The debugger line is the only sign that the value was written back.
TEST(PendingRenameRepair, DropsOnlyStrayEmptyStringsWherePairsBegin)
{
    struct Case {
        const char* what;
        std::wstring stored;
        std::wstring expected;
    };
    const std::wstring wellFormed = List(L"\\??\\A|\\??\\B|\\??\\C||\\??\\D|||");
    const std::vector<Case> cases = {
        {"stray string between pairs", List(L"\\??\\A|\\??\\B||\\??\\C|||"), List(L"\\??\\A|\\??\\B|\\??\\C|||")},
        {"stray string first", List(L"|\\??\\A||\\??\\B|\\??\\C||"), List(L"\\??\\A||\\??\\B|\\??\\C||")},
        {"several strays", List(L"\\??\\A|||||\\??\\B|||"), List(L"\\??\\A||\\??\\B|||")},
        {"a well-formed list", wellFormed, wellFormed},
        {"no list", L"", L"<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
        if (!c.stored.empty())
            StoreList(c.stored);
        const std::vector<std::string> repaired = {"FixPendingRenameKeyNT was successful"};
        EXPECT_EQ(!c.stored.empty() && c.stored != c.expected ? repaired : std::vector<std::string>(),
                  RunChildForDebugOutput("FixPendingRenames"));
        EXPECT_EQ(c.expected, StoredList());
    }
}

TEST(PendingRenameRepair, DeletesNowOrSchedulesFilesInUse)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    const std::wstring folder = MakeScratchFolder(L"pending rename");
    const std::wstring free = folder + L"\\free file.dat";
    const std::wstring held = folder + L"\\held file.dat";
    WriteFileBytes(free, {1, 2, 3});
    WriteFileBytes(held, {4, 5, 6});

    EXPECT_EQ(kDeleted, DeleteFileNowOrAtRestart(free.c_str()));
    EXPECT_FALSE(FileExists(free));
    EXPECT_FALSE(GetRaw(kSessionManager, kPending).has_value()) << "nothing scheduled for a deleted file";
    EXPECT_EQ(kNothingToDelete, DeleteFileNowOrAtRestart(free.c_str()));

    const HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(kDeleteAtRestart, DeleteFileNowOrAtRestart(held.c_str()));
    CloseHandle(holder);
    EXPECT_TRUE(FileExists(held));

    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(held.c_str(), shortPath, MAX_PATH), 0u);
    const std::wstring list = StoredList();
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(std::wstring(L"\0\0", 2), list.substr(list.size() - 2)) << "an empty destination, then the end";
    const std::wstring source = list.substr(0, list.find(L'\0'));
    EXPECT_EQ(std::wstring(shortPath), source.substr(source.size() - wcslen(shortPath))) << Narrow(source);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    RemoveTree(folder);
}

} // namespace
