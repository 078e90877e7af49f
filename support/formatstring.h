#pragma once
#include <cstdarg>
#include <string>

namespace srLib {

// Appends formatted text of any length to text, with the same meaning of the conversions as
// FormatWV (%s wide). Returns false, leaving text as it was, when the format cannot be applied;
// throws std::bad_alloc when the text cannot grow.
bool AppendFormatV(std::wstring& text, const wchar_t* format, va_list args);
bool AppendFormat(std::wstring& text, const wchar_t* format, ...);

} // namespace srLib
