#pragma once
// The submission engine ("vexcore.dll") as the update drives it: its configuration manager, the
// configurations and their typed values. Slot numbering and conventions as in
// support/srinterfaces.h: slots 0 to 2 are IKrvBase's, Reserved<slot> only holds a slot.
#include "support/srinterfaces.h"

#include <windows.h>

namespace sr {

// Typed values under 32-bit numeric keys. Every operation answers true on success.
class IKeyValueCollection : public IKrvBase {
public:
    virtual void Reserved3() = 0;
    virtual bool HasValue(unsigned long key) = 0; // slot 4
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    virtual void Reserved8() = 0;
    virtual void Reserved9() = 0;
    virtual void Reserved10() = 0;
    virtual void Reserved11() = 0;
    virtual void Reserved12() = 0;
    virtual void Reserved13() = 0;
    virtual void Reserved14() = 0;
    virtual void Reserved15() = 0;
    virtual void Reserved16() = 0;
    virtual void Reserved17() = 0;
    virtual void Reserved18() = 0;
    virtual void Reserved19() = 0;
    virtual void Reserved20() = 0;
    virtual void Reserved21() = 0;
    virtual void Reserved22() = 0;
    virtual void Reserved23() = 0;
    virtual void Reserved24() = 0;
    virtual void Reserved25() = 0;
    // value is left untouched when the key holds no 32-bit number.
    virtual bool GetDwordValue(unsigned long key, DWORD& value) = 0; // slot 26
    virtual void Reserved27() = 0;
    virtual void Reserved28() = 0;
    virtual void Reserved29() = 0;
    virtual void Reserved30() = 0;
    virtual void Reserved31() = 0;
    virtual void Reserved32() = 0;
    // Copies the text; the caller keeps its reference to value.
    virtual bool SetStringValue(unsigned long key, IString* value) = 0; // slot 33
    virtual void Reserved34() = 0;
    virtual void Reserved35() = 0;
    virtual void Reserved36() = 0;
    virtual void Reserved37() = 0;
    virtual void Reserved38() = 0;
    virtual bool SetGuidValue(unsigned long key, const GUID& value) = 0; // slot 39
    virtual void Reserved40() = 0;
    virtual void Reserved41() = 0;
    virtual void Reserved42() = 0;
    virtual bool SetDwordValue(unsigned long key, DWORD value) = 0; // slot 43
    virtual void Reserved44() = 0;
    virtual void Reserved45() = 0;
    virtual void Reserved46() = 0;
    virtual void Reserved47() = 0;
    virtual void Reserved48() = 0;
    virtual bool SetBoolValue(unsigned long key, bool value) = 0; // slot 49

protected:
    ~IKeyValueCollection() = default;
};

} // namespace sr

namespace clfs::svc {

// The engine module, found in the folder of the InstalledApps value "ORBSubmissionEngine".
inline constexpr wchar_t VEXCORE_MODULE[] = L"vexcore.dll";

// Object id and interface id of the configuration manager.
// {5A3C9E1D-7B42-4F86-9D2A-31E8C6B07F54}
inline constexpr KRVGUID IID_ConfigManager = {
    0x5A3C9E1D, 0x7B42, 0x4F86, {0x9D, 0x2A, 0x31, 0xE8, 0xC6, 0xB0, 0x7F, 0x54}};

// One engine configuration: a submission configuration or the engine-wide one. Its values are
// stored by Save, not before.
class IConfig : public IKrvBase {
public:
    // 0 on success, any other number is the engine's error code.
    virtual DWORD Save(DWORD argument) = 0; // slot 3
    virtual void Reserved4() = 0;
    virtual void Reserved5() = 0;
    // On success *values holds a reference of its own; changes through it belong to this
    // configuration.
    virtual HRESULT GetData(sr::IKeyValueCollection** values) = 0; // slot 6

protected:
    ~IConfig() = default;
};

// The engine's configuration manager. Every operation returns an HRESULT; out values hold
// references of their own on success.
class IConfigManager : public IKrvBase {
public:
    // Reads the stored submission configurations; what the next three operations list.
    virtual HRESULT LoadConfigs() = 0;                              // slot 3
    virtual HRESULT GetConfigCount(DWORD* count) = 0;               // slot 4
    virtual HRESULT GetConfigAt(DWORD index, IConfig** config) = 0; // slot 5
    // A new, empty submission configuration, stored by its first Save.
    virtual HRESULT NewConfig(IConfig** config) = 0; // slot 6
    // Removes the configuration from the store; the indices of the loaded configurations stay
    // as they were until the next LoadConfigs.
    virtual HRESULT RemoveConfig(IConfig* config) = 0;     // slot 7
    virtual HRESULT GetEngineConfig(IConfig** config) = 0; // slot 8

protected:
    ~IConfigManager() = default;
};

} // namespace clfs::svc
