#include "support/formatstring.h"

#include <cstdio>

namespace srLib {

bool AppendFormatV(std::wstring& text, const wchar_t* format, va_list args)
{
    va_list measureArgs;
    va_copy(measureArgs, args);
    // msvcrt's counter, like the formatter below: MinGW's own would read %s as narrow text.
    const int length = _vscwprintf(format, measureArgs);
    va_end(measureArgs);
    if (length < 0)
        return false;
    const size_t oldLength = text.size();
    text.resize(oldLength + static_cast<size_t>(length) + 1);
    const int written = _vsnwprintf(&text[oldLength], static_cast<size_t>(length) + 1, format, args);
    if (written != length) {
        text.resize(oldLength);
        return false;
    }
    text.resize(oldLength + static_cast<size_t>(length));
    return true;
}

bool AppendFormat(std::wstring& text, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool appended = AppendFormatV(text, format, args);
    va_end(args);
    return appended;
}

} // namespace srLib
