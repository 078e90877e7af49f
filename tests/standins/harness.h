#pragma once
#include "support/srinterfaces.h"

#include <windows.h>

#include <string>
#include <vector>

namespace standintest {

// A fresh copy of one stand-in DLL in a scratch folder named after the running test, so that its
// state file and journal start empty; its failure switches are cleared on creation and
// destruction, and the library is freed on destruction.
class CStandinCopy {
public:
    CStandinCopy(const wchar_t* builtDll, const wchar_t* fileName, const wchar_t* switchKey);
    ~CStandinCopy();
    CStandinCopy(const CStandinCopy&) = delete;
    CStandinCopy& operator=(const CStandinCopy&) = delete;

    // LoadLibrary of the copy and the lookup of both exports; false (with a test failure) if any
    // of them fails.
    bool Load();
    void Free();

    // The object its factory creates for the identifier (as object id and interface id), the
    // factory released at once; null (with a test failure) if either call fails.
    void* Create(const KRVGUID& id);
    long ObjectCount() const { return m_pfnGetObjectCount(); }

    // A file beside the copy.
    std::wstring File(const std::wstring& name) const { return m_sFolder + L"\\" + name; }
    std::string ReadText(const std::wstring& name) const;
    void WriteText(const std::wstring& name, const std::string& utf8) const;
    std::vector<std::string> JournalLines(const std::wstring& name) const;

    void SetSwitch(const wchar_t* name, const std::wstring& value) const;
    void SetSwitch(const wchar_t* name, DWORD value) const;

private:
    std::wstring m_sFolder;
    std::wstring m_sPath;
    std::wstring m_sSwitchKey;
    HMODULE m_hModule = nullptr;
    PFN_KRV_GETFACTORY m_pfnGetFactory = nullptr;
    PFN_KRV_GETOBJECTCOUNT m_pfnGetObjectCount = nullptr;
};

// Calls the operation in the given slot of the object's table, as a component that knows only
// the slot numbers would.
template <class Result, class... Args>
Result CallSlot(void* object, size_t slot, Args... args)
{
#if defined(__i386__)
    using Function = Result(__thiscall*)(void*, Args...);
#else
    using Function = Result (*)(void*, Args...);
#endif
    Function* table = *static_cast<Function**>(object);
    return table[slot](object, args...);
}

inline unsigned long Release(void* object)
{
    return CallSlot<unsigned long>(object, 2);
}

// Whether the journal holds every line of expected, in that order.
bool JournalHolds(const std::vector<std::string>& journal, const std::vector<std::string>& expected);

} // namespace standintest
