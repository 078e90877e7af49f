#include "update/bstr.h"

#include <cwchar>

namespace clfs::utils {

int CompareText(const _bstr_t& left, const _bstr_t& right) noexcept
{
    const wchar_t* a = left;
    const wchar_t* b = right;
    if (a == b)
        return 0;
    if (!a || !b)
        return a ? 1 : -1;
    const unsigned int lengthA = left.length();
    const unsigned int lengthB = right.length();
    const unsigned int shorter = lengthA < lengthB ? lengthA : lengthB;
    for (unsigned int i = 0; i < shorter; ++i) {
        // wchar_t is an unsigned 16-bit type here, so the units compare as unsigned numbers.
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    if (lengthA == lengthB)
        return 0;
    return lengthA < lengthB ? -1 : 1;
}

bool IsExactly(const _bstr_t& value, const wchar_t* text) noexcept
{
    const size_t length = std::wcslen(text);
    return value.length() == length && std::wmemcmp(Text(value), text, length) == 0;
}

} // namespace clfs::utils
