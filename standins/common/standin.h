#pragma once
// What the shared-runtime stand-ins have in common: their files beside the DLL (UTF-8 text),
// the journal of the calls they receive, the failure switches a test sets under
// HKLM\Software\KorvalinStandins\<name>, and the reference-counted objects they hand out.
#include "support/srinterfaces.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace standin {

// Called once from DllMain: fileStem prefixes the stand-in's files ("<fileStem>-journal.txt"),
// switchKey names its key under HKLM\Software\KorvalinStandins.
void Attach(HMODULE module, const wchar_t* fileStem, const wchar_t* switchKey);
std::wstring BesideModule(const std::wstring& fileName);

std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// The whole file, or empty when it cannot be read.
std::string ReadFileText(const std::wstring& path);
bool WriteFileText(const std::wstring& path, const std::string& text);
// The lines of the UTF-8 file fileName beside the DLL, without their line ends (LF or CR LF).
std::vector<std::wstring> ReadLinesBesideModule(const wchar_t* fileName);

// Appends one line to "<fileStem>-journal.txt".
void Journal(const std::wstring& line);

// Whether a test asked this call to fail: the switch "FailCall" names call and "FailMatch", when
// set, is a part of text (the call as the journal shows it). result receives "FailResult" when
// that is set and is left as it is otherwise.
bool Planted(const wchar_t* call, const std::wstring& text, unsigned long& result);
std::wstring ReadSwitch(const wchar_t* name);
// For calls that return a KRVRESULT: the planted result (0x8001FFFF unless "FailResult" says
// otherwise) with planted set, or KRV_S_OK.
KRVRESULT PlantedResult(const wchar_t* call, const std::wstring& text, bool& planted);
// Journals "<text> -> <result>[, <detail>]".
void JournalResult(const std::wstring& text, unsigned long result, const std::wstring& detail = std::wstring());

std::wstring Hex(unsigned long value);
std::wstring GuidText(const KRVGUID& guid);
// The text with "%" and control characters (CR, LF, ...) written as %XX, so that it stays on one
// line; Unescape reverses it.
std::wstring Escape(const std::wstring& text);
std::wstring Unescape(const std::wstring& text);
// The escaped text in double quotes, or null.
std::wstring Quoted(const wchar_t* text);
bool SameGuid(const KRVGUID& left, const KRVGUID& right);
// Equal regardless of case, as Windows compares file names.
bool SameName(const std::wstring& left, const std::wstring& right);

// Objects alive in this stand-in, as "GetObjectCount" reports them.
long LiveObjects();
void CountObject(bool created);

// Reference counting for the objects a stand-in hands out, each created with one reference.
// QueryInterface answers what Find returns and is journaled, as is the object's destruction,
// under the object's subject (an empty subject journals nothing).
template <class... Interfaces> class CObject : public Interfaces... {
public:
    KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) override
    {
        if (!object)
            return KRV_E_INVALIDARG;
        *object = Find(interfaceId);
        if (*object)
            AddRef();
        const KRVRESULT result = *object ? KRV_S_OK : KRV_E_NOINTERFACE;
        if (!m_subject.empty())
            Journal(m_subject + L".QueryInterface(" + GuidText(interfaceId) + L") -> " + Hex(result));
        return result;
    }
    unsigned long AddRef() override { return static_cast<unsigned long>(InterlockedIncrement(&m_lRefs)); }
    unsigned long Release() override
    {
        const LONG refs = InterlockedDecrement(&m_lRefs);
        if (refs == 0)
            delete this;
        return static_cast<unsigned long>(refs);
    }

    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

protected:
    explicit CObject(std::wstring subject) : m_subject(std::move(subject)) { CountObject(true); }
    virtual ~CObject()
    {
        if (!m_subject.empty())
            Journal(m_subject + L" destroyed");
        CountObject(false);
    }

    // The interface this object answers to for interfaceId, or null.
    virtual void* Find(const KRVGUID&) { return nullptr; }

    const std::wstring& Subject() const { return m_subject; }

private:
    LONG m_lRefs = 1;
    std::wstring m_subject;
};

// The one factory of a stand-in: creates its object for the one interface identifier it serves.
class CFactory final : public CObject<IKrvFactory> {
public:
    // Makes the object, as the pointer to the served interface, or null.
    using Create = void* (*)();

    CFactory(const KRVGUID& served, Create create) : CObject(L"IKrvFactory"), m_served(served), m_create(create) {}

    KRVRESULT CreateInstance(const KRVGUID& interfaceId, void** object) override;

private:
    KRVGUID m_served;
    Create m_create;
};

// The "GetFactory" export of a stand-in whose object id and interface id are both served.
KRVRESULT ServeFactory(const KRVGUID& objectId, IKrvFactory** factory, const KRVGUID& served, CFactory::Create create);

// The DllMain of a stand-in: attaches it (see Attach) and journals "load" and, when the DLL is
// freed, "unload (live objects N)".
void OnDllEvent(HMODULE module, DWORD reason, void* reserved, const wchar_t* fileStem, const wchar_t* switchKey);

} // namespace standin

// A slot the module is not meant to call: a call is journaled as a fault and does nothing else.
#define STANDIN_RESERVED_SLOT(slot)                                                                                    \
    void Reserved##slot() override                                                                                     \
    {                                                                                                                  \
        standin::Journal(Subject() + L": unexpected call of slot " #slot);                                             \
    }
