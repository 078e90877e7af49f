#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace InstallToolBox {

class CRecordStore;

// Named string and 32-bit values kept in an install options file. Every operation returns
// non-zero on success.
class ICommandLineStore {
public:
    virtual BOOL SetDword(const wchar_t* name, DWORD value) = 0;
    virtual BOOL SetDword(const char* name, DWORD value) = 0;
    virtual BOOL SetString(const wchar_t* name, const wchar_t* value) = 0;
    virtual BOOL SetString(const char* name, const wchar_t* value) = 0;
    // A missing value leaves defaultValue in *value and returns false.
    virtual BOOL GetDword(const wchar_t* name, DWORD* value, DWORD defaultValue) = 0;
    virtual BOOL GetDword(const char* name, DWORD* value, DWORD defaultValue) = 0;
    // A missing value leaves the default (or an empty string) in the buffer and returns false.
    virtual BOOL GetString(const wchar_t* name, wchar_t* buffer, DWORD bufferChars, const wchar_t* defaultValue) = 0;
    virtual BOOL GetString(const char* name, wchar_t* buffer, DWORD bufferChars, const wchar_t* defaultValue) = 0;
    virtual BOOL Save() = 0;
    virtual ~ICommandLineStore() = default;
};

// The install options file on disk: loaded (digest verified) when the object is created,
// changed in memory, written by Save. Names and values are kept as text of the thread's ANSI
// code page. The object is read-only until EnableWriting.
class CInstoptsDat : public ICommandLineStore {
public:
    // With givenPath 0 the file named by "Instopts" under HKLM\Software\Korvalin is preferred,
    // and a path where no file exists is dropped. With givenPath 1 the path is used as given and
    // a file that is missing or damaged starts an empty store that the first Save creates.
    CInstoptsDat(DWORD reserved, const wchar_t* path, BOOL givenPath);
    ~CInstoptsDat() override;
    CInstoptsDat(const CInstoptsDat&) = delete;
    CInstoptsDat& operator=(const CInstoptsDat&) = delete;

    void EnableWriting();

    BOOL SetDword(const wchar_t* name, DWORD value) override;
    BOOL SetDword(const char* name, DWORD value) override;
    BOOL SetString(const wchar_t* name, const wchar_t* value) override;
    BOOL SetString(const char* name, const wchar_t* value) override;
    BOOL GetDword(const wchar_t* name, DWORD* value, DWORD defaultValue) override;
    BOOL GetDword(const char* name, DWORD* value, DWORD defaultValue) override;
    BOOL GetString(const wchar_t* name, wchar_t* buffer, DWORD bufferChars, const wchar_t* defaultValue) override;
    BOOL GetString(const char* name, wchar_t* buffer, DWORD bufferChars, const wchar_t* defaultValue) override;
    BOOL Save() override;

private:
    std::wstring m_strPath; // empty: no file
    std::unique_ptr<CRecordStore> m_pStore;
    BOOL m_bReadOnly = TRUE;
    BOOL m_bGivenPath;
};

// Record-store status codes of loading and saving a file on disk (3 and 4 for a missing or
// unopenable file, 9 for a failed write, the format's own codes otherwise).
int LoadRecordFile(CRecordStore& store, const wchar_t* path, bool verify);
int SaveRecordFile(const CRecordStore& store, const wchar_t* path);

} // namespace InstallToolBox
