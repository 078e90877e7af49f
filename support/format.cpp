#include "support/format.h"

#include <cstdio>
#include <cwchar>

namespace srLib {

bool FormatWV(wchar_t* buffer, size_t limit, const wchar_t* format, va_list args)
{
    if (limit == 0)
        return false;
    // msvcrt's formatter, not MinGW's C99 one: only it reads %s in a wide format as wide text.
    const int written = _vsnwprintf(buffer, limit - 1, format, args);
    // It leaves the text unterminated when it cuts it or fills the buffer exactly.
    buffer[limit - 1] = L'\0';
    return written >= 0 && static_cast<size_t>(written) < limit;
}

bool FormatWN(wchar_t* buffer, size_t limit, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool complete = FormatWV(buffer, limit, format, args);
    va_end(args);
    return complete;
}

} // namespace srLib
