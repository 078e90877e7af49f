#include "framework/persistdata.h"

#include "framework/instoptsdat.h"
#include "framework/pendingrename.h"
#include "framework/recordstore.h"
#include "support/format.h"

#include <msiquery.h>

#include <cwchar>
#include <new>

namespace InstallToolBox {
namespace {

const wchar_t kPropertyFile[] = L"krvlprop.dat";
const wchar_t kUseCount[] = L"UC:PROP_COUNT";
const wchar_t kLongCount[] = L"LongProp:Count";
// Names of 31 characters or more do not fit a record name and are kept through an index.
const size_t kLongNameLength = 31;
const DWORD kMaxRecords = RECORD_MAX_FILE_SIZE / (RECORD_HEAD_SIZE + 8);
const DWORD kTempFolderChars = 261;

// Empty when there is no place for the file: a temporary folder that cannot be read, or one too
// long for its buffer, would otherwise leave the bare file name below the drive's root.
std::wstring ResolvePath(const wchar_t* fileName)
{
    if (GetFileAttributesW(fileName) != INVALID_FILE_ATTRIBUTES)
        return fileName;
    wchar_t folder[kTempFolderChars] = {};
    const DWORD length = GetTempPathW(kTempFolderChars, folder);
    if (length == 0 || length >= kTempFolderChars)
        return std::wstring();
    if (length >= 4 && folder[length - 1] == L'\\')
        folder[length - 1] = L'\0';
    wchar_t path[520];
    if (!srLib::FormatW(path, L"%s\\%s", folder, fileName))
        return std::wstring();
    return path;
}

} // namespace

CPersistData::CPersistData(const wchar_t* fileName) : m_strPath(ResolvePath(fileName))
{
    if (m_strPath.empty())
        return;
    m_pStore.reset(new (std::nothrow) CInstoptsDat(0, m_strPath.c_str(), TRUE));
    if (m_pStore)
        m_pStore->EnableWriting();
}

CPersistData::~CPersistData() = default;

BOOL CPersistData::SetString(const wchar_t* name, const wchar_t* value)
{
    return m_pStore && m_pStore->SetString(name, value) && m_pStore->Save();
}

BOOL CPersistData::GetString(const wchar_t* name, wchar_t* buffer, DWORD bufferChars)
{
    return m_pStore && m_pStore->GetString(name, buffer, bufferChars, nullptr);
}

BOOL CPersistData::SetDword(const wchar_t* name, DWORD value)
{
    return m_pStore && m_pStore->SetDword(name, value) && m_pStore->Save();
}

BOOL CPersistData::GetDword(const wchar_t* name, DWORD* value)
{
    return m_pStore && m_pStore->GetDword(name, value, 0);
}

int CPersistData::Discard()
{
    m_pStore.reset();
    if (m_strPath.empty())
        return kNothingToDelete;
    return DeleteFileNowOrAtRestart(m_strPath.c_str());
}

CPropertyData::CPropertyData(MSIHANDLE hInstall) : CPersistData(kPropertyFile), m_hInstall(hInstall) {}

BOOL CPropertyData::SetDword(const wchar_t*, DWORD)
{
    return FALSE;
}

BOOL CPropertyData::GetDword(const wchar_t*, DWORD*)
{
    return FALSE;
}

bool CPropertyData::AsksInstaller(BOOL storeFlag) const
{
    return m_hInstall != 0 && !storeFlag && !MsiGetMode(m_hInstall, MSIRUNMODE_ROLLBACK) &&
           !MsiGetMode(m_hInstall, MSIRUNMODE_COMMIT) && !MsiGetMode(m_hInstall, MSIRUNMODE_SCHEDULED);
}

BOOL CPropertyData::SetProperty(const wchar_t* name, const wchar_t* value, BOOL toStore)
{
    if (AsksInstaller(toStore))
        return MsiSetPropertyW(m_hInstall, name, value) == ERROR_SUCCESS;
    if (wcslen(name) < kLongNameLength)
        return CPersistData::SetString(name, value);

    DWORD last = 0;
    const DWORD index = CPersistData::GetDword(kLongCount, &last) ? last + 1 : 0;
    wchar_t entry[32];
    srLib::FormatW(entry, L"LongProp%d:Name", static_cast<int>(index));
    if (!CPersistData::SetString(entry, name))
        return FALSE;
    CPersistData::SetDword(kLongCount, index);
    srLib::FormatW(entry, L"LongProp%d:Value", static_cast<int>(index));
    return CPersistData::SetString(entry, value);
}

BOOL CPropertyData::GetProperty(const wchar_t* name, wchar_t* buffer, DWORD bufferChars, BOOL fromStore)
{
    if (AsksInstaller(fromStore)) {
        DWORD size = bufferChars;
        return MsiGetPropertyW(m_hInstall, name, buffer, &size) == ERROR_SUCCESS;
    }
    if (wcslen(name) < kLongNameLength)
        return CPersistData::GetString(name, buffer, bufferChars);
    DWORD index = 0;
    if (!FindLongName(name, index))
        return FALSE;
    wchar_t entry[32];
    srLib::FormatW(entry, L"LongProp%d:Value", static_cast<int>(index));
    return CPersistData::GetString(entry, buffer, bufferChars);
}

// The earliest entry of that name wins: a long name set again gets a new entry behind it.
bool CPropertyData::FindLongName(const wchar_t* name, DWORD& index)
{
    DWORD last = 0;
    if (!CPersistData::GetDword(kLongCount, &last))
        return false;
    // A verified file cannot hold more entries than this, whatever the stored count says.
    const DWORD entries = last < kMaxRecords ? last + 1 : kMaxRecords;
    for (DWORD i = 0; i < entries; ++i) {
        wchar_t entry[32];
        wchar_t stored[260];
        srLib::FormatW(entry, L"LongProp%d:Name", static_cast<int>(i));
        if (CPersistData::GetString(entry, stored, 260) && wcscmp(stored, name) == 0) {
            index = i;
            return true;
        }
    }
    return false;
}

BOOL CPropertyData::AddRef()
{
    DWORD count = 0;
    CPersistData::GetDword(kUseCount, &count);
    return CPersistData::SetDword(kUseCount, count + 1);
}

int CPropertyData::Discard()
{
    DWORD count = 0;
    CPersistData::GetDword(kUseCount, &count);
    if (count <= 1)
        return CPersistData::Discard();
    CPersistData::SetDword(kUseCount, count - 1);
    return kNothingToDelete;
}

} // namespace InstallToolBox
