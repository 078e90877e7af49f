#pragma once
#include <cstdarg>
#include <cstddef>

namespace srLib {

// Formats with Microsoft's meaning of the conversions, which every format text of the module
// uses: %s takes a wide string in a wide format, %I64u and %Iu are 64-bit and pointer-sized.
// Writes at most limit - 1 characters and always terminates; returns false when the text was cut
// or could not be formatted.
bool FormatWV(wchar_t* buffer, size_t limit, const wchar_t* format, va_list args);
bool FormatWN(wchar_t* buffer, size_t limit, const wchar_t* format, ...);

template <size_t N, class... Args> bool FormatW(wchar_t (&buffer)[N], const wchar_t* format, Args... args)
{
    return FormatWN(buffer, N, format, args...);
}

} // namespace srLib
