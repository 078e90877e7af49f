#include "support/ownfile.h"

#include "support/catchconvention.h"

#include <cwchar>
#include <string>

namespace srLib {
namespace {

const wchar_t kExtendedPrefix[] = L"\\\\?\\";
const wchar_t kExtendedUncPrefix[] = L"\\\\?\\UNC\\";

// The text of a path query that answers the characters it needs (terminator included) when the
// buffer is too small, and its length without the terminator otherwise; 0 is a failure.
template <class Query> bool QueryPath(std::wstring& text, Query query)
{
    DWORD size = MAX_PATH;
    // A path may grow between two calls; a third attempt that still does not fit gives up.
    for (int attempt = 0; attempt < 3; ++attempt) {
        text.resize(size);
        const DWORD length = query(&text[0], size);
        if (length == 0)
            return false;
        if (length < size) {
            text.resize(length);
            return true;
        }
        size = length + 1;
    }
    return false;
}

void RemoveExtendedPrefix(std::wstring& path)
{
    if (path.compare(0, wcslen(kExtendedUncPrefix), kExtendedUncPrefix) == 0)
        path.replace(0, wcslen(kExtendedUncPrefix), L"\\\\");
    else if (path.compare(0, wcslen(kExtendedPrefix), kExtendedPrefix) == 0)
        path.erase(0, wcslen(kExtendedPrefix));
}

EFileRefusal CompareFinalPath(HANDLE file, const wchar_t* path)
{
    std::wstring full;
    std::wstring expected;
    std::wstring final;
    if (!QueryPath(full, [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path, size, buffer, nullptr); }) ||
        !QueryPath(expected,
                   [&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(full.c_str(), buffer, size); }) ||
        !QueryPath(final, [&](wchar_t* buffer, DWORD size) {
            return GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }))
        return EFileRefusal::eUnchecked;
    RemoveExtendedPrefix(expected);
    RemoveExtendedPrefix(final);
    const int same = CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), final.c_str(),
                                          static_cast<int>(final.size()), TRUE);
    return same == CSTR_EQUAL ? EFileRefusal::eNone : EFileRefusal::eElsewhere;
}

} // namespace

EFileRefusal CheckOwnFile(HANDLE file, const wchar_t* path) noexcept
{
    if (GetFileType(file) != FILE_TYPE_DISK)
        return EFileRefusal::eNotDisk;
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file, &information))
        return EFileRefusal::eUnchecked;
    if (information.nNumberOfLinks != 1)
        return EFileRefusal::eLinked;
    EFileRefusal refusal = EFileRefusal::eUnchecked;
    FalseOnOutOfMemory([&] {
        refusal = CompareFinalPath(file, path);
        return true;
    });
    return refusal;
}

const wchar_t* DescribeRefusal(EFileRefusal refusal) noexcept
{
    switch (refusal) {
    case EFileRefusal::eNone:
        return L"a plain file";
    case EFileRefusal::eNotDisk:
        return L"not a disk file";
    case EFileRefusal::eLinked:
        return L"more than one link";
    case EFileRefusal::eElsewhere:
        return L"reached through a link";
    default:
        return L"not checkable";
    }
}

} // namespace srLib
