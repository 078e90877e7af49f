#include "framework/regkey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using InstallToolBox::ReadRegistryString;

namespace {

// What the stand-in registry read hands back, exactly as a Windows registry returns it (no
// terminator added): the type and the stored bytes; an empty type is a missing value.
DWORD g_type;
std::vector<BYTE> g_data;

LONG WINAPI FakeQuery(HKEY, LPCWSTR, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD bytes)
{
    if (g_type == REG_NONE)
        return ERROR_FILE_NOT_FOUND;
    *type = g_type;
    const DWORD room = *bytes;
    *bytes = static_cast<DWORD>(g_data.size());
    if (g_data.size() > room)
        return ERROR_MORE_DATA;
    std::memcpy(data, g_data.data(), g_data.size());
    return ERROR_SUCCESS;
}

TEST(RegistryStringRead, AcceptsOnlyTerminatedTextOfAStringType)
{
    struct Case {
        DWORD type;
        std::wstring stored; // every character of it, terminators included
        size_t extraByte;
        LONG expected;
    };
    const std::wstring terminated(L"C:\\Data\0", 8);
    const std::vector<Case> cases = {
        {REG_SZ, terminated, 0, ERROR_SUCCESS},
        {REG_EXPAND_SZ, L"%TEMP%" + std::wstring(1, L'\0'), 0, ERROR_SUCCESS},
        {REG_SZ, L"", 0, ERROR_SUCCESS},
        {REG_SZ, L"C:\\", 0, ERROR_INVALID_DATA},
        {REG_SZ, std::wstring(L"ab\0", 3), 1, ERROR_INVALID_DATA},
        {REG_MULTI_SZ, terminated, 0, ERROR_INVALID_DATA},
        {REG_DWORD, std::wstring(2, L'\0'), 0, ERROR_INVALID_DATA},
        {REG_NONE, L"", 0, ERROR_FILE_NOT_FOUND},
        {REG_SZ, L"abcdefghij" + std::wstring(1, L'\0'), 0, ERROR_MORE_DATA},
    };
    for (const Case& c : cases) {
        g_type = c.type;
        const BYTE* begin = reinterpret_cast<const BYTE*>(c.stored.data());
        g_data.assign(begin, begin + c.stored.size() * sizeof(wchar_t) + c.extraByte);
        wchar_t buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        EXPECT_EQ(c.expected, ReadRegistryString(nullptr, L"name", buffer, 8, FakeQuery)) << c.type;
        if (c.expected == ERROR_SUCCESS) {
            EXPECT_EQ(c.stored.substr(0, c.stored.find(L'\0')), std::wstring(buffer));
        }
    }
}

} // namespace
