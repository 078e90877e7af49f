#include "framework/customaction.h"
#include "framework/instoptsdat.h"
#include "framework/persistdata.h"
#include "framework/pendingrename.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

class StoreFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeScratchFolder(L"store files");
        m_path = m_folder + L"\\options.dat";
        DeleteFileIfAny(m_property);
    }
    void TearDown() override
    {
        DeleteFileIfAny(m_property);
        RemoveTree(m_folder);
        DeleteKeyTree(kKorvalinKey);
    }
    std::wstring m_folder;
    std::wstring m_path;
    const std::wstring m_property = TempFolder() + L"\\krvlprop.dat";
};

// The file is a record file: magic 0xFE56524B, version 1, one record.
TEST_F(StoreFileTest, OptionsFileRoundTripAndDamage)
{
    CInstoptsDat store(0, m_path.c_str(), TRUE);
    EXPECT_FALSE(store.SetDword(L"Install", 1)) << "read-only until writing is enabled";
    store.EnableWriting();
    EXPECT_TRUE(store.SetDword(L"Install", 1));
    EXPECT_TRUE(store.SetString(L"Text", L"Caf\u00e9 \u00fcber"));
    EXPECT_FALSE(FileExists(m_path)) << "sets change memory only";
    EXPECT_TRUE(store.Save());
    std::vector<unsigned char> file = ReadFileBytes(m_path);
    ASSERT_GE(file.size(), 28u);
    EXPECT_EQ(std::vector<unsigned char>({0x4B, 0x52, 0x56, 0xFE, 1, 0, 0, 0, 2, 0, 0, 0}),
              std::vector<unsigned char>(file.begin(), file.begin() + 12));

    CInstoptsDat reread(0, m_path.c_str(), TRUE);
    DWORD value = 7;
    EXPECT_TRUE(reread.GetDword("Install", &value, 0));
    EXPECT_EQ(1u, value);
    wchar_t buffer[64];
    EXPECT_TRUE(reread.GetString(L"Text", buffer, 64, nullptr));
    EXPECT_EQ(std::wstring(L"Caf\u00e9 \u00fcber"), buffer);
    EXPECT_FALSE(reread.GetString(L"Text", buffer, 9, nullptr)) << "nine characters do not fit";
    EXPECT_FALSE(reread.GetString(L"Missing", buffer, 64, L"fallback"));
    EXPECT_EQ(std::wstring(L"fallback"), buffer);

    file[40] ^= 0x01;
    WriteFileBytes(m_path, file);
    CInstoptsDat given(0, m_path.c_str(), TRUE);
    EXPECT_FALSE(given.GetDword("Install", &value, 0)) << "a damaged file reads as empty";
    CInstoptsDat found(0, m_path.c_str(), FALSE);
    found.EnableWriting();
    EXPECT_FALSE(found.SetDword("Install", 1)) << "without a given path the damaged file is dropped";
    given.EnableWriting();
    EXPECT_TRUE(given.SetDword("Install", 0));
    EXPECT_TRUE(given.Save()) << "with a given path the next save replaces it";
    EXPECT_TRUE(CInstoptsDat(0, m_path.c_str(), TRUE).GetDword("Install", &value, 1));
    EXPECT_EQ(0u, value);

    SetString(kKorvalinKey, L"Instopts", m_path);
    CInstoptsDat lookedUp(0, (m_folder + L"\\absent.dat").c_str(), FALSE);
    EXPECT_TRUE(lookedUp.GetDword("Install", &value, 1)) << "the registered file is preferred";
}

TEST_F(StoreFileTest, PersistDataSavesEveryChangeAndDiscardsItsFile)
{
    WriteFileBytes(m_path, {});
    CPersistData first(m_path.c_str());
    EXPECT_TRUE(first.SetString(L"Name", L"value"));
    CPersistData second(m_path.c_str());
    wchar_t buffer[16];
    DWORD number = 3;
    EXPECT_TRUE(second.GetString(L"Name", buffer, 16));
    EXPECT_EQ(std::wstring(L"value"), buffer);
    EXPECT_FALSE(second.GetDword(L"Name", &number)) << "a string is not a 32-bit value";
    EXPECT_EQ(0u, number);
    EXPECT_FALSE(second.SetString(std::wstring(32, L'n').c_str(), L"x")) << "names of 32 characters do not fit";
    EXPECT_FALSE(second.SetString(L"Long", std::wstring(2048, L'v').c_str()));
    EXPECT_TRUE(second.SetString(L"Long", std::wstring(2047, L'v').c_str()));
    EXPECT_EQ(kDeleted, second.Discard());
    EXPECT_FALSE(FileExists(m_path));
    EXPECT_FALSE(second.SetDword(L"Number", 1)) << "nothing works after Discard";
}

// Names longer than a record name are kept in records of their own.
TEST_F(StoreFileTest, PropertyFileKeepsLongNames)
{
    const std::wstring longName(40, L'M');
    CPropertyData store(0);
    EXPECT_TRUE(store.SetProperty(std::wstring(31, L'L').c_str(), L"first", FALSE));
    EXPECT_TRUE(store.SetProperty(longName.c_str(), L"second", TRUE));
    wchar_t buffer[64];
    EXPECT_TRUE(CPersistData(L"krvlprop.dat").GetString(L"LongProp1:Name", buffer, 64));
    EXPECT_EQ(longName, buffer);
    EXPECT_TRUE(CPropertyData(0).GetProperty(longName.c_str(), buffer, 64, FALSE));
    EXPECT_EQ(std::wstring(L"second"), buffer);
    EXPECT_FALSE(CPropertyData(0).GetProperty(std::wstring(35, L'Z').c_str(), buffer, 64, FALSE));
}

// Counts the calls of the removal-side scheduling operation, which a driver on handle 0 runs.
class CSchedulingAction : public CCustomAction {
public:
    CSchedulingAction() : CCustomAction(0, L"Scheduling", nullptr, nullptr) {}
    BOOL InstallScheduling() override { return TRUE; }
    BOOL InstallDeferred() override { return TRUE; }
    BOOL InstallRollback() override { return TRUE; }
    BOOL InstallCommit() override { return TRUE; }
    BOOL UninstallScheduling() override { return ++m_nCalls > 0; }
    BOOL UninstallDeferred() override { return TRUE; }
    BOOL UninstallRollback() override { return TRUE; }
    BOOL UninstallCommit() override { return TRUE; }
    int m_nCalls = 0;
};

// A temporary folder of 300 characters does not fit the store's buffer: there is no store, so
// nothing lands below the drive's root, and the driver runs its action as with a data file it
// cannot write (its decisions are simply not kept).
TEST_F(StoreFileTest, TemporaryFolderLongerThanAPathKeepsNoFile)
{
    // Two levels: one name may not exceed 255 characters.
    const std::wstring outer = L"\\\\?\\" + m_folder + L"\\" + std::wstring(150, L'o');
    ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr)) << GetLastError();
    std::wstring longTemp = outer.substr(4) + L"\\";
    longTemp.append(300 - longTemp.size(), L't');
    const std::wstring extended = L"\\\\?\\" + longTemp;
    ASSERT_TRUE(CreateDirectoryW(extended.c_str(), nullptr)) << GetLastError();
    wchar_t atRoot[MAX_PATH];
    ASSERT_NE(0u, GetFullPathNameW(L"\\SUB_PR_Action.dat", MAX_PATH, atRoot, nullptr));
    const struct {
        const char* what;
        std::function<void()> run;
    } cases[] = {
        {"the store",
         [] {
             CPersistData store(L"SUB_PR_Action.dat");
             EXPECT_TRUE(store.Path().empty());
             EXPECT_FALSE(store.SetDword(L"Install", 1));
             EXPECT_EQ(kNothingToDelete, store.Discard());
         }},
        {"the driver",
         [] {
             CSchedulingAction action;
             CCustomAction* actions[] = {&action};
             EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), RunCustomActions(0, actions, 1, L"SUB_PR_Action"));
             EXPECT_EQ(1, action.m_nCalls);
         }},
    };
    const wchar_t* const variables[] = {L"TMP", L"TEMP"};
    std::vector<std::wstring> saved;
    for (const wchar_t* variable : variables) {
        wchar_t value[1024] = {};
        saved.push_back(GetEnvironmentVariableW(variable, value, 1024) ? value : L"");
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const wchar_t* variable : variables)
            SetEnvironmentVariableW(variable, longTemp.c_str());
        c.run();
        for (size_t i = 0; i < saved.size(); ++i)
            SetEnvironmentVariableW(variables[i], saved[i].empty() ? nullptr : saved[i].c_str());
        EXPECT_FALSE(FileExists(atRoot)) << Narrow(atRoot);
        DeleteFileIfAny(atRoot);
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((extended + L"\\*.dat").c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "a file in the folder it could not name";
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
    EXPECT_TRUE(RemoveDirectoryW(extended.c_str()));
    EXPECT_TRUE(RemoveDirectoryW(outer.c_str()));
}

} // namespace
