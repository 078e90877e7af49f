#pragma once
#include "support/registrydebugoutput.h"

// The module's one trace channel, named "submca": the prefix of its lines, the base name of
// its log file and its key in the per-module switches.
extern srKrv::CRegistryDebugOutput g_DebugOutput;

// Wide printf formats (%s takes a wide string), at levels 1, 2 and 3. They never fail towards
// the caller; texts that contain a per cent sign go through "%s".
void TraceInfo(const wchar_t* format, ...) noexcept;
void TraceWarning(const wchar_t* format, ...) noexcept;
void TraceError(const wchar_t* format, ...) noexcept;
