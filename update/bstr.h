#pragma once
#include <comdef.h>

namespace clfs::utils {

// The text of a string; the empty text for an absent one.
inline const wchar_t* Text(const _bstr_t& text) noexcept
{
    const wchar_t* characters = text;
    return characters ? characters : L"";
}

// Orders two strings exactly: two absent strings are equal, an absent string comes before a
// present one, present strings compare by UTF-16 code units (as unsigned numbers) over the
// shorter length, and then the shorter one comes first. Negative, 0 or positive.
int CompareText(const _bstr_t& left, const _bstr_t& right) noexcept;

// Whether the string holds exactly text: the same length and the same characters.
bool IsExactly(const _bstr_t& value, const wchar_t* text) noexcept;

} // namespace clfs::utils
