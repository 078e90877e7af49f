#pragma once
#include <windows.h>
#include <msi.h>

#include <memory>
#include <string>

namespace InstallToolBox {

class CInstoptsDat;

// Name/value data that must survive from the scheduling call of a custom action to its
// deferred, rollback and commit calls, which run in other processes: a record file in the
// temporary folder, saved on every change. Every operation returns false without a store.
class CPersistData {
public:
    // fileName is used as it stands when a file or folder of that name exists (relative to the
    // current folder or absolute); otherwise it names a file in the temporary folder. A temporary
    // folder that cannot be read, or is longer than 260 characters, leaves no store and an empty
    // Path(): the decisions are then not kept, as when the file cannot be written.
    explicit CPersistData(const wchar_t* fileName);
    virtual ~CPersistData();
    CPersistData(const CPersistData&) = delete;
    CPersistData& operator=(const CPersistData&) = delete;

    virtual BOOL SetString(const wchar_t* name, const wchar_t* value);
    // True only when the value was found and fits the buffer.
    virtual BOOL GetString(const wchar_t* name, wchar_t* buffer, DWORD bufferChars);
    virtual BOOL SetDword(const wchar_t* name, DWORD value);
    // A missing value leaves 0 in *value and returns false.
    virtual BOOL GetDword(const wchar_t* name, DWORD* value);
    // Closes the store without saving and deletes the file now, or at the next restart when it
    // is in use. Every later call on this object returns false.
    virtual int Discard();

    const std::wstring& Path() const { return m_strPath; }

private:
    std::wstring m_strPath;
    std::unique_ptr<CInstoptsDat> m_pStore;
};

// Installer properties for actions whose later calls cannot ask the installer: in the
// scheduling call they are read from and written to the installer, in every other call (or
// when the caller asks for the file) they come from "krvlprop.dat", which counts the scheduled
// actions that still need it and goes away with the last of them.
class CPropertyData : public CPersistData {
public:
    explicit CPropertyData(MSIHANDLE hInstall);

    // Not part of this store's interface: its entries are properties and the use count.
    BOOL SetDword(const wchar_t* name, DWORD value) override;
    BOOL GetDword(const wchar_t* name, DWORD* value) override;
    // Lowers the use count; the last user deletes the file.
    int Discard() override;

    virtual BOOL SetProperty(const wchar_t* name, const wchar_t* value, BOOL toStore);
    virtual BOOL GetProperty(const wchar_t* name, wchar_t* buffer, DWORD bufferChars, BOOL fromStore);
    virtual BOOL AddRef();

private:
    bool AsksInstaller(BOOL storeFlag) const;
    bool FindLongName(const wchar_t* name, DWORD& index);

    MSIHANDLE m_hInstall;
};

} // namespace InstallToolBox
