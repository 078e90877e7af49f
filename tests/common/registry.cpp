#include "tests/common/registry.h"

#include <gtest/gtest.h>

namespace testsupport {

const wchar_t kKorvalinKey[] = L"Software\\Korvalin";
const wchar_t kInstalledAppsKey[] = L"Software\\Korvalin\\InstalledApps";

namespace {

thread_local REGSAM t_view = 0;

// The key, created if missing, open for every access in the current view.
HKEY Create(const wchar_t* subKey)
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_ALL_ACCESS | t_view,
                                             nullptr, &key, nullptr));
    return key;
}

} // namespace

RegistryView::RegistryView(REGSAM view) : m_previous(t_view)
{
    t_view = view;
}

RegistryView::~RegistryView()
{
    t_view = m_previous;
}

bool HasTwoViews()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void DeleteKeyTree(const wchar_t* subKey)
{
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS | t_view, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return;
    ASSERT_EQ(ERROR_SUCCESS, opened) << "RegOpenKeyExW";
    const LONG result = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result) << "RegDeleteTreeW";
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey, t_view, 0);
}

void CreateKey(const wchar_t* subKey)
{
    RegCloseKey(Create(subKey));
}

void SetRaw(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    const HKEY key = Create(subKey);
    const LONG result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result);
}

void SetString(const wchar_t* subKey, const wchar_t* name, const std::wstring& value, DWORD type)
{
    SetRaw(subKey, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(const wchar_t* subKey, const wchar_t* name, DWORD value)
{
    SetRaw(subKey, name, REG_DWORD, &value, sizeof(value));
}

std::optional<RegValue> GetRaw(const wchar_t* subKey, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | t_view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    RegValue value;
    DWORD bytes = 0;
    LONG result = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes);
    if (result == ERROR_SUCCESS) {
        value.data.resize(bytes);
        result = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &bytes);
        value.data.resize(bytes);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

std::optional<std::wstring> GetString(const wchar_t* subKey, const wchar_t* name)
{
    const auto value = GetRaw(subKey, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(value->data.data()), value->data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

} // namespace testsupport
