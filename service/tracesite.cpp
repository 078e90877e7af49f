#include "service/tracesite.h"

#include "support/catchconvention.h"
#include "support/formatstring.h"
#include "support/trace.h"

#include <string>

namespace clfs::utils {
namespace {

void TraceAtLevel(int level, const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    g_DebugOutput.Trace(level, format, args);
    va_end(args);
}

} // namespace

void CTraceSite::Trace(int level, const wchar_t* format, va_list args) const noexcept
{
    if (!g_DebugOutput.IsEnabled(level))
        return;
    std::wstring message;
    if (srLib::FalseOnOutOfMemory([&] { return srLib::AppendFormatV(message, format, args); }))
        TraceAtLevel(level, L"%s : %s", m_szSignature, message.c_str());
}

void CTraceSite::Info(const wchar_t* format, ...) const noexcept
{
    va_list args;
    va_start(args, format);
    Trace(srLib::CDebugOutput::eInformation, format, args);
    va_end(args);
}

void CTraceSite::Warning(const wchar_t* format, ...) const noexcept
{
    va_list args;
    va_start(args, format);
    Trace(srLib::CDebugOutput::eWarning, format, args);
    va_end(args);
}

void CTraceSite::Error(const wchar_t* format, ...) const noexcept
{
    va_list args;
    va_start(args, format);
    Trace(srLib::CDebugOutput::eError, format, args);
    va_end(args);
}

} // namespace clfs::utils
