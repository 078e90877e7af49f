#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

const wchar_t kValue[] = L"ORBSubmissionEngineData";
const wchar_t kPackage[] = L"installedapps";

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t shortPath[1024] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, 1024);
    EXPECT_GT(length, 0u) << Narrow(path);
    return shortPath;
}

class WriteInstalledAppsKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        m_folder = MakeScratchFolder(L"Submission Engine Data Folder");
    }

    void TearDown() override { DeleteKeyTree(kKorvalinKey); }

    std::vector<std::string> InstallAndRemove() { return testsupport::InstallAndRemove(kPackage); }

    void ExpectValueUnchanged(const RegValue& before)
    {
        const auto after = GetRaw(kInstalledAppsKey, kValue);
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(before.type, after->type);
        EXPECT_EQ(before.data, after->data);
    }

    std::wstring m_folder;
};

TEST_F(WriteInstalledAppsKeyTest, RewritesLongFolderInShortFormAndRepeatsHarmlessly)
{
    SetString(kInstalledAppsKey, kValue, m_folder);
    const std::wstring expected = ShortForm(m_folder);
    ASSERT_NE(expected, m_folder) << "the scratch folder must have a long name for this test";

    EXPECT_TRUE(InstallAndRemove().empty());
    const auto value = GetRaw(kInstalledAppsKey, kValue);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value->type);
    // The data is the short path with exactly one terminating zero.
    const std::wstring stored(reinterpret_cast<const wchar_t*>(value->data.data()), value->data.size() / 2);
    EXPECT_EQ(expected + L'\0', stored);

    EXPECT_TRUE(InstallAndRemove().empty());
    EXPECT_EQ(expected, GetString(kInstalledAppsKey, kValue).value_or(L"<missing>"));
}

TEST_F(WriteInstalledAppsKeyTest, ExpandableValueIsReadVerbatimAndWrittenBackAsPlainString)
{
    SetString(kInstalledAppsKey, kValue, m_folder, REG_EXPAND_SZ);
    EXPECT_TRUE(InstallAndRemove().empty());
    const auto value = GetRaw(kInstalledAppsKey, kValue);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value->type);
    EXPECT_EQ(ShortForm(m_folder), GetString(kInstalledAppsKey, kValue).value_or(L"<missing>"));

    // An environment reference is not expanded: %TEMP% names no folder as it stands.
    SetString(kInstalledAppsKey, kValue, L"%TEMP%", REG_EXPAND_SZ);
    const RegValue before = *GetRaw(kInstalledAppsKey, kValue);
    const std::vector<std::string> lines = InstallAndRemove();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("KRVL (Error): Failed to convert to short path name, Error Val = "));
    ExpectValueUnchanged(before);
}

TEST_F(WriteInstalledAppsKeyTest, MissingKeyIsReportedAndNotCreated)
{
    EXPECT_EQ(std::vector<std::string>{"KRVL (Error): Failed to get long path name"}, InstallAndRemove());
    EXPECT_FALSE(GetRaw(kInstalledAppsKey, kValue).has_value());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, 0, KEY_READ, &key));
}

TEST_F(WriteInstalledAppsKeyTest, UnreadableValuesAreReportedWithTheirCodeAndLeftAlone)
{
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        int code;
    };
    const std::wstring tooLong(300, L'x');
    std::vector<BYTE> longBytes(reinterpret_cast<const BYTE*>(tooLong.c_str()),
                                reinterpret_cast<const BYTE*>(tooLong.c_str()) + (tooLong.size() + 1) * 2);
    // Wine's registry adds a missing terminator on the way out, so that shape is covered by the
    // string-read tests of the framework; an odd length still reaches the module as it is.
    const std::vector<BYTE> oddLength = {'C', 0, ':', 0, '\\', 0, 0, 0, 0};
    const std::vector<Case> cases = {
        {"a 32-bit value", REG_DWORD, {1, 0, 0, 0}, ERROR_INVALID_DATA},
        {"a multi-string", REG_MULTI_SZ, {'C', 0, ':', 0, 0, 0, 0, 0}, ERROR_INVALID_DATA},
        {"300 characters", REG_SZ, longBytes, ERROR_MORE_DATA},
        {"an odd byte length", REG_SZ, oddLength, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetRaw(kInstalledAppsKey, kValue, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        const RegValue before = *GetRaw(kInstalledAppsKey, kValue);
        EXPECT_EQ(std::vector<std::string>{"KRVL (Error): Could not find reg key, Error val = " + std::to_string(c.code)},
                  InstallAndRemove());
        ExpectValueUnchanged(before);
    }

    SCOPED_TRACE("no value");
    DeleteKeyTree(kInstalledAppsKey);
    CreateKey(kInstalledAppsKey);
    EXPECT_EQ(std::vector<std::string>{"KRVL (Error): Could not find reg key, Error val = 2"}, InstallAndRemove());
    EXPECT_FALSE(GetRaw(kInstalledAppsKey, kValue).has_value());
}

TEST_F(WriteInstalledAppsKeyTest, FolderWithoutShortFormIsReportedWithTheConversionError)
{
    struct Case {
        const char* what;
        std::wstring path;
        DWORD type;
    };
    // An empty value reads as an empty path, which the platform cannot convert either.
    const std::vector<Case> cases = {
        {"a folder that does not exist", m_folder + L"\\missing", REG_SZ},
        {"an empty value", L"", REG_SZ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path.empty())
            SetRaw(kInstalledAppsKey, kValue, REG_SZ, nullptr, 0);
        else
            SetString(kInstalledAppsKey, kValue, c.path, c.type);
        wchar_t ignored[MAX_PATH];
        SetLastError(0);
        ASSERT_EQ(0u, GetShortPathNameW(c.path.c_str(), ignored, MAX_PATH));
        const DWORD platformError = GetLastError();
        const RegValue before = *GetRaw(kInstalledAppsKey, kValue);
        EXPECT_EQ(std::vector<std::string>{"KRVL (Error): Failed to convert to short path name, Error Val = "
                                           + std::to_string(platformError)},
                  InstallAndRemove());
        ExpectValueUnchanged(before);
    }
}

TEST_F(WriteInstalledAppsKeyTest, ShortFormLongerThanAPathIsNotTakenForSuccess)
{
    // Names with a space have no 8.3 form of their own: each "a b" becomes an eight-character
    // generated name, so this 200-character path has a short form far beyond 260 characters.
    std::wstring deep = m_folder.substr(0, 3) + L"d";
    CreateDirectoryW(deep.c_str(), nullptr);
    while (deep.size() < 200) {
        deep += L"\\a b";
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    wchar_t probe[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(deep.c_str(), probe, MAX_PATH), static_cast<DWORD>(MAX_PATH))
        << "the platform must report the size it needs";

    SetString(kInstalledAppsKey, kValue, deep);
    const RegValue before = *GetRaw(kInstalledAppsKey, kValue);
    EXPECT_EQ(std::vector<std::string>{"KRVL (Error): Failed to convert to short path name, Error Val = 206"},
              InstallAndRemove());
    ExpectValueUnchanged(before);
    RemoveTree(m_folder.substr(0, 3) + L"d");
}

// The 32-bit action on 64-bit Windows reads and writes the 32-bit view, where a 32-bit package
// writes its values; what lies in the 64-bit view is neither taken nor touched.
TEST_F(WriteInstalledAppsKeyTest, ValuesComeFromTheViewOfThe32BitProcess)
{
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        GTEST_SKIP() << "a 32-bit Windows has one view";
    const std::wstring other = MakeScratchFolder(L"Submission Engine Data Of Another View");
    const auto inOtherView = [&](auto&& step) {
        const RegistryView view(KEY_WOW64_64KEY);
        step();
    };
    inOtherView([&] { SetString(kInstalledAppsKey, kValue, other); });

    SetString(kInstalledAppsKey, kValue, m_folder);
    EXPECT_TRUE(InstallAndRemove().empty());
    EXPECT_EQ(ShortForm(m_folder), GetString(kInstalledAppsKey, kValue).value_or(L"<missing>"));

    DeleteDebugLogs();
    DeleteKeyTree(kKorvalinKey);
    CreateKey(kInstalledAppsKey);
    inOtherView([&] { SetDword(kKorvalinKey, L"DebugLog", 1); });
    EXPECT_EQ(std::vector<std::string>{"KRVL (Error): Could not find reg key, Error val = 2"}, InstallAndRemove());
    inOtherView([&] {
        EXPECT_EQ(other, GetString(kInstalledAppsKey, kValue).value_or(L"<missing>"));
        DeleteKeyTree(kKorvalinKey);
    });
    EXPECT_TRUE(DebugLogFiles().empty()) << "DebugLog of the 64-bit view was taken";
}

TEST_F(WriteInstalledAppsKeyTest, ErrorLinesAreMirroredIntoTheDebugLogFile)
{
    DeleteDebugLogs();
    SetDword(kKorvalinKey, L"DebugLog", 1);
    const std::wstring missing = m_folder + L"\\100% missing";
    SetString(kInstalledAppsKey, kValue, missing);
    const std::vector<std::string> lines = InstallAndRemove();
    ASSERT_EQ(1u, lines.size());

    const std::vector<std::wstring> files = DebugLogFiles();
    ASSERT_EQ(1u, files.size()) << "one action process, one file";
    const std::vector<std::string> logLines = SplitLines(ReadTextFile(files[0]));
    ASSERT_EQ(2u, logLines.size());
    EXPECT_EQ(0u, logLines[0].find("Log started at "));
    EXPECT_EQ(lines[0], logLines[1]);
}

} // namespace
