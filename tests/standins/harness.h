#pragma once
#include "support/srinterfaces.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
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

    PFN_KRV_GETFACTORY GetFactory() const { return m_pfnGetFactory; }
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

template <class Interface>
unsigned long Release(Interface* object)
{
    return CallSlot<unsigned long>(object, 2);
}

// The slot in which the compiler placed a virtual operation: a pointer to a virtual member holds
// one more than the operation's byte offset in the table.
template <class Method, class Interface>
size_t SlotOf(Method Interface::*operation)
{
    struct Raw {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(operation) == sizeof(Raw), "pointer to member function of two words");
    Raw raw;
    std::memcpy(&raw, &operation, sizeof(raw));
    return (raw.pointer - 1) / sizeof(void*);
}

// The identifier as the registry and the documentation write it, formatted by the platform.
std::string GuidText(const KRVGUID& guid);

} // namespace standintest
