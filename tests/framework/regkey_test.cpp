#include "framework/regkey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using InstallToolBox::ReadRegistryString;

namespace {

// What the fake registry read hands back: a result, a type and the stored bytes, exactly as a
// Windows registry returns them (no terminator added).
struct StoredValue {
    LONG result;
    DWORD type;
    std::vector<BYTE> data;
};
StoredValue g_stored;

LONG WINAPI FakeQuery(HKEY, LPCWSTR, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD bytes)
{
    if (g_stored.result != ERROR_SUCCESS)
        return g_stored.result;
    *type = g_stored.type;
    if (g_stored.data.size() > *bytes) {
        *bytes = static_cast<DWORD>(g_stored.data.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, g_stored.data.data(), g_stored.data.size());
    *bytes = static_cast<DWORD>(g_stored.data.size());
    return ERROR_SUCCESS;
}

std::vector<BYTE> Bytes(const std::wstring& text, bool terminated)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

TEST(RegistryStringRead, AcceptsOnlyTerminatedTextOfAStringType)
{
    struct Case {
        const char* what;
        StoredValue stored;
        LONG expected;
        std::wstring text; // what the buffer holds on success
    };
    std::vector<BYTE> odd = Bytes(L"ab", true);
    odd.push_back(0);
    const std::vector<Case> cases = {
        {"terminated text", {ERROR_SUCCESS, REG_SZ, Bytes(L"C:\\Data", true)}, ERROR_SUCCESS, L"C:\\Data"},
        {"expandable, not expanded", {ERROR_SUCCESS, REG_EXPAND_SZ, Bytes(L"%TEMP%", true)}, ERROR_SUCCESS, L"%TEMP%"},
        {"zero bytes", {ERROR_SUCCESS, REG_SZ, {}}, ERROR_SUCCESS, L""},
        {"no terminator", {ERROR_SUCCESS, REG_SZ, Bytes(L"C:\\", false)}, ERROR_INVALID_DATA, L""},
        {"odd byte length", {ERROR_SUCCESS, REG_SZ, odd}, ERROR_INVALID_DATA, L""},
        {"multi-string", {ERROR_SUCCESS, REG_MULTI_SZ, Bytes(L"a", true)}, ERROR_INVALID_DATA, L""},
        {"number", {ERROR_SUCCESS, REG_DWORD, {2, 0, 0, 0}}, ERROR_INVALID_DATA, L""},
        {"missing", {ERROR_FILE_NOT_FOUND, REG_NONE, {}}, ERROR_FILE_NOT_FOUND, L""},
        {"longer than the buffer", {ERROR_SUCCESS, REG_SZ, Bytes(L"abcdefghij", true)}, ERROR_MORE_DATA, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_stored = c.stored;
        wchar_t buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        EXPECT_EQ(c.expected, ReadRegistryString(nullptr, L"name", buffer, 8, FakeQuery));
        if (c.expected == ERROR_SUCCESS) {
            EXPECT_EQ(c.text, std::wstring(buffer));
        }
    }
}

} // namespace
