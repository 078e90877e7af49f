#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Registry set-up and inspection for tests, in the real registry of the test prefix. The helpers
// use the test process's own view (the 32-bit one, as the module's) unless a RegistryView names
// another.
namespace testsupport {

extern const wchar_t kKorvalinKey[];      // Software\Korvalin
extern const wchar_t kInstalledAppsKey[]; // Software\Korvalin\InstalledApps

// While it lives, the helpers on this thread work in the given view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY); the trace options, for one, are read from the 64-bit view on 64-bit Windows.
class RegistryView {
public:
    explicit RegistryView(REGSAM view);
    RegistryView(const RegistryView&) = delete;
    RegistryView& operator=(const RegistryView&) = delete;
    ~RegistryView();

private:
    REGSAM m_previous;
};

// Whether this 32-bit process runs on 64-bit Windows, where there are two views; a 32-bit
// Windows has one.
bool HasTwoViews();

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Removes HKLM\subKey with everything below it; a missing key is fine.
void DeleteKeyTree(const wchar_t* subKey);
void CreateKey(const wchar_t* subKey);

// Stores exactly the given bytes, for values no tool would write (odd lengths, no terminator).
void SetRaw(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD bytes);
// A string stored with its terminator (REG_SZ unless type says otherwise).
void SetString(const wchar_t* subKey, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
void SetDword(const wchar_t* subKey, const wchar_t* name, DWORD value);

std::optional<RegValue> GetRaw(const wchar_t* subKey, const wchar_t* name);
// The value as text without its terminator; nullopt when missing or not a string type.
std::optional<std::wstring> GetString(const wchar_t* subKey, const wchar_t* name);

} // namespace testsupport
