#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

const wchar_t kValue[] = L"ORBSubmissionEngineData";

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t shortPath[1024] = {};
    EXPECT_GT(GetShortPathNameW(path.c_str(), shortPath, 1024), 0u) << Narrow(path);
    return shortPath;
}

// The line for a folder the platform cannot shorten, with the platform's own error.
Lines ConversionFailure(const std::wstring& path)
{
    wchar_t ignored[MAX_PATH];
    SetLastError(0);
    EXPECT_EQ(0u, GetShortPathNameW(path.c_str(), ignored, MAX_PATH));
    return {"KRVL (Error): Failed to convert to short path name, Error Val = " + std::to_string(GetLastError())};
}

Lines RegistryFailure(int code)
{
    return {"KRVL (Error): Could not find reg key, Error val = " + std::to_string(code)};
}

bool KeyExists(const wchar_t* subKey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class WriteInstalledAppsKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        DeleteDebugLogs();
        m_folder = MakeScratchFolder(L"Submission Engine Data Folder");
    }
    void TearDown() override { DeleteKeyTree(kKorvalinKey); }

    std::wstring m_folder;
    InstallationRuns m_runs{L"installedapps"};
};

std::vector<BYTE> Text(const std::wstring& text)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

// Each row stores its value (kLeave: the one the row before left; kNoValue, kNoKey: none) and
// expects its lines. A value the action rewrites becomes the folder's short form as REG_SZ with
// exactly one terminator; any other is left as it was.
TEST_F(WriteInstalledAppsKeyTest, ValuesOfEveryKind)
{
    const DWORD kLeave = 0x10000, kNoValue = 0x10001, kNoKey = 0x10002;
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        Lines lines;
        bool rewritten;
    };
    // Names with a space have no 8.3 form of their own: each "a b" becomes an eight-character
    // generated name, so this 200-character path has a short form far beyond 260 characters.
    const std::wstring deepRoot = m_folder.substr(0, 3) + L"d";
    std::wstring deep = deepRoot;
    CreateDirectoryW(deep.c_str(), nullptr);
    while (deep.size() < 200) {
        deep += L"\\a b";
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    wchar_t probe[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(deep.c_str(), probe, MAX_PATH), static_cast<DWORD>(MAX_PATH));
    ASSERT_NE(ShortForm(m_folder), m_folder) << "the scratch folder must have a long name";
    const std::wstring missing = m_folder + L"\\missing";
    // Wine's registry adds a missing terminator on the way out; an odd length still arrives as it is.
    const std::vector<Case> cases = {
        {"a long folder", REG_SZ, Text(m_folder), {}, true},
        {"the short form it wrote", kLeave, {}, {}, true},
        {"an expandable string", REG_EXPAND_SZ, Text(m_folder), {}, true},
        {"an environment reference, not expanded", REG_EXPAND_SZ, Text(L"%TEMP%"), ConversionFailure(L"%TEMP%"), false},
        {"a folder that does not exist", REG_SZ, Text(missing), ConversionFailure(missing), false},
        {"an empty value", REG_SZ, {}, ConversionFailure(L""), false},
        {"a short form over a path",
         REG_SZ,
         Text(deep),
         {"KRVL (Error): Failed to convert to short path name, Error Val = 206"},
         false},
        {"a 32-bit value", REG_DWORD, {1, 0, 0, 0}, RegistryFailure(13), false},
        {"a multi-string", REG_MULTI_SZ, {'C', 0, ':', 0, 0, 0, 0, 0}, RegistryFailure(13), false},
        {"300 characters", REG_SZ, Text(std::wstring(300, L'x')), RegistryFailure(234), false},
        {"an odd byte length", REG_SZ, {'C', 0, ':', 0, '\\', 0, 0, 0, 0}, RegistryFailure(13), false},
        {"no value", kNoValue, {}, RegistryFailure(2), false},
        {"no key", kNoKey, {}, {"KRVL (Error): Failed to get long path name"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.type == kNoValue)
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, kValue);
        else if (c.type == kNoKey)
            DeleteKeyTree(kInstalledAppsKey);
        else if (c.type != kLeave)
            SetRaw(kInstalledAppsKey, kValue, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        const auto before = GetRaw(kInstalledAppsKey, kValue);
        const bool keyExisted = KeyExists(kInstalledAppsKey);
        EXPECT_EQ(c.lines, m_runs.Run().KrvlLines());
        const auto after = GetRaw(kInstalledAppsKey, kValue);
        ASSERT_EQ(before.has_value(), after.has_value());
        EXPECT_EQ(keyExisted, KeyExists(kInstalledAppsKey)) << "the key is not created";
        if (!before)
            continue;
        if (c.rewritten) {
            const std::wstring folder(reinterpret_cast<const wchar_t*>(before->data.data()));
            EXPECT_EQ(static_cast<DWORD>(REG_SZ), after->type);
            const std::wstring stored(reinterpret_cast<const wchar_t*>(after->data.data()), after->data.size() / 2);
            EXPECT_EQ(ShortForm(folder) + L'\0', stored);
        } else {
            EXPECT_EQ(before->type, after->type);
            EXPECT_EQ(before->data, after->data);
        }
    }
    RemoveTree(deepRoot);
}

// The 32-bit action on 64-bit Windows reads and writes the 32-bit view, where a 32-bit package
// writes its values; what lies in the 64-bit view is neither taken nor touched.
TEST_F(WriteInstalledAppsKeyTest, ValuesComeFromTheViewOfThe32BitProcess)
{
    if (!HasTwoViews())
        GTEST_SKIP() << "a 32-bit Windows has one view";
    const std::wstring other = MakeScratchFolder(L"Submission Engine Data Of Another View");
    const auto inOtherView = [&](auto&& step) {
        const RegistryView view(KEY_WOW64_64KEY);
        step();
    };
    inOtherView([&] { SetString(kInstalledAppsKey, kValue, other); });

    SetString(kInstalledAppsKey, kValue, m_folder);
    EXPECT_TRUE(m_runs.Run().KrvlLines().empty());
    EXPECT_EQ(ShortForm(m_folder), GetString(kInstalledAppsKey, kValue).value_or(L"<missing>"));

    DeleteKeyTree(kKorvalinKey);
    CreateKey(kInstalledAppsKey);
    inOtherView([&] { SetDword(kKorvalinKey, L"DebugLog", 1); });
    EXPECT_EQ(RegistryFailure(2), m_runs.Run().KrvlLines());
    inOtherView([&] {
        EXPECT_EQ(other, GetString(kInstalledAppsKey, kValue).value_or(L"<missing>"));
        DeleteKeyTree(kKorvalinKey);
    });
    EXPECT_TRUE(DebugLogFiles().empty()) << "DebugLog of the 64-bit view was taken";
}

TEST_F(WriteInstalledAppsKeyTest, ErrorLinesAreMirroredIntoTheDebugLogFile)
{
    SetDword(kKorvalinKey, L"DebugLog", 1);
    SetString(kInstalledAppsKey, kValue, m_folder + L"\\100% missing");
    const Lines lines = m_runs.Run().KrvlLines();
    ASSERT_EQ(1u, lines.size());
    const std::vector<std::wstring> files = DebugLogFiles();
    ASSERT_EQ(1u, files.size()) << "one action process, one file";
    const Lines logLines = SplitLines(ReadTextFile(files[0]));
    ASSERT_EQ(2u, logLines.size());
    EXPECT_EQ(0u, logLines[0].find("Log started at "));
    EXPECT_EQ(lines[0], logLines[1]);
}

} // namespace
