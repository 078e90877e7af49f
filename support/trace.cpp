#include "support/trace.h"

srKrv::CRegistryDebugOutput g_DebugOutput(L"submca");

void TraceInfo(const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    g_DebugOutput.Trace(srLib::CDebugOutput::eInformation, format, args);
    va_end(args);
}

void TraceWarning(const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    g_DebugOutput.Trace(srLib::CDebugOutput::eWarning, format, args);
    va_end(args);
}

void TraceError(const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    g_DebugOutput.Trace(srLib::CDebugOutput::eError, format, args);
    va_end(args);
}
