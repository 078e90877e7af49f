#include "support/debugoutput.h"

#include "platform/atlexception.h"
#include "support/catchconvention.h"
#include "support/formatstring.h"

#include <cstdlib>
#include <cwchar>

namespace srLib {
namespace {

// The host executable's path is read into a buffer of this many characters; a path that fills
// it counts as cut off.
const DWORD kHostPathCapacity = 259;

bool AssignText(std::wstring& target, const wchar_t* text) noexcept
{
    return FalseOnOutOfMemory([&] {
        target.assign(text ? text : L"");
        return true;
    });
}

const wchar_t* TypeWord(int level) noexcept
{
    switch (level) {
    case CDebugOutput::eInformation:
        return L"Information";
    case CDebugOutput::eWarning:
        return L"Warning";
    case CDebugOutput::eError:
        return L"Error";
    default:
        return nullptr;
    }
}

void RemoveTrailing(std::wstring& text, const wchar_t* characters) noexcept
{
    const size_t last = text.find_last_not_of(characters);
    text.erase(last == std::wstring::npos ? 0 : last + 1);
}

} // namespace

CDebugOutput::CDebugOutput(const wchar_t* moduleName) noexcept
{
    // A name that cannot be stored stays empty; initialisation then takes the host's.
    AssignText(m_strModuleName, moduleName);
}

CDebugOutput::~CDebugOutput() = default;

int CDebugOutput::Initialize() noexcept
{
    return 1;
}

bool CDebugOutput::IsEnabled(int level) noexcept
{
    Initialize();
    return m_nLevel != 0 && m_nLevel <= level;
}

// Callers often trace a failure before they report its code: the thread's last error survives
// the trace, whatever loading the options or opening the file did to it.
void CDebugOutput::Trace(int level, const wchar_t* format, va_list args) noexcept
{
    const DWORD lastError = GetLastError();
    if (IsEnabled(level)) {
        std::wstring line;
        if (FalseOnOutOfMemory([&] { return BuildLine(line, level, format, args); }))
            OutputString(line.c_str());
    }
    SetLastError(lastError);
}

bool CDebugOutput::BuildLine(std::wstring& line, int level, const wchar_t* format, va_list args) const
{
    if (m_bPrependDateTime) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        AppendFormat(line, L"%04d-%02d-%02d-%02d-%02d-%02d-%03d : ", now.wYear, now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond, now.wMilliseconds);
    }
    if (m_bPrependModuleName && !m_strModuleName.empty())
        AppendFormat(line, L"%s : ", m_strModuleName.c_str());
    if (m_bPrependProcessId)
        AppendFormat(line, L"0x%04X : ", GetCurrentProcessId());
    if (m_bPrependThreadId)
        AppendFormat(line, L"0x%04X : ", GetCurrentThreadId());
    if (m_bPrependType && TypeWord(level))
        AppendFormat(line, L"%s : ", TypeWord(level));
    if (!AppendFormatV(line, format, args))
        return false;
    if (m_bAppendNewLine) {
        RemoveTrailing(line, L"\r\n");
        line.append(L"\r\n");
    }
    return true;
}

void CDebugOutput::OutputString(const wchar_t* line) noexcept
{
    if (m_bOutputToDebugger)
        OutputDebugStringW(line);
    if (!m_bOutputToFile)
        return;
    CCriticalSectionLock lock(m_lock);
    if (!lock.IsHeld())
        return;
    if (!m_file.IsOpen())
        OpenLogFile();
    if (!m_file.IsOpen())
        return;
    DWORD written = 0;
    WriteFile(m_file.Get(), line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
}

// Without a directory (none given and the host's path unreadable) there is no log file: the
// name alone would land below the drive's root.
bool CDebugOutput::BuildLogFileName(std::wstring& path) const
{
    if (m_strDirectory.empty())
        return false;
    path = m_strDirectory;
    RemoveTrailing(path, L"\\");
    return AppendFormat(path, L"\\%s", m_strModuleName.c_str()) &&
           (!m_bAppendProcessIdToFile || AppendFormat(path, L"-0x%04X", GetCurrentProcessId())) &&
           AppendFormat(path, L".log");
}

void CDebugOutput::OpenLogFile() noexcept
{
    m_file.Close();
    std::wstring path;
    if (!FalseOnOutOfMemory([&] { return BuildLogFileName(path); }))
        return;
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const bool created = GetLastError() == ERROR_SUCCESS;
    m_file.Attach(file);
    if (created) {
        const wchar_t byteOrderMark = 0xFEFF;
        DWORD written = 0;
        WriteFile(file, &byteOrderMark, sizeof(byteOrderMark), &written, nullptr);
    }
    SetFilePointer(file, 0, nullptr, FILE_END);
}

const wchar_t* CDebugOutput::GetModuleName() noexcept
{
    Initialize();
    return m_strModuleName.c_str();
}

const wchar_t* CDebugOutput::GetDirectory() noexcept
{
    Initialize();
    return m_strDirectory.c_str();
}

bool CDebugOutput::SetModuleName(const wchar_t* moduleName) noexcept
{
    return SetFileNamePart(m_strModuleName, moduleName);
}

bool CDebugOutput::SetDirectory(const wchar_t* directory) noexcept
{
    return SetFileNamePart(m_strDirectory, directory);
}

bool CDebugOutput::SetFileNamePart(std::wstring& part, const wchar_t* value) noexcept
{
    Initialize();
    CCriticalSectionLock lock(m_lock);
    if (part.compare(value ? value : L"") == 0)
        return true;
    if (!AssignText(part, value))
        return false;
    if (m_file.IsOpen())
        OpenLogFile();
    return true;
}

void CDebugOutput::SetAppendProcessIdToFile(int value) noexcept
{
    Initialize();
    CCriticalSectionLock lock(m_lock);
    if (m_bAppendProcessIdToFile == value)
        return;
    m_bAppendProcessIdToFile = value;
    if (m_file.IsOpen())
        OpenLogFile();
}

bool CDebugOutput::FillNamesFromHost() noexcept
{
    if (!m_strModuleName.empty() && !m_strDirectory.empty())
        return true;
    wchar_t path[kHostPathCapacity];
    const DWORD length = GetModuleFileNameW(nullptr, path, kHostPathCapacity);
    if (length == 0 || length == kHostPathCapacity)
        return false;
    wchar_t drive[3];
    wchar_t folder[256];
    wchar_t name[256];
    wchar_t extension[256];
    if (_wsplitpath_s(path, drive, 3, folder, 256, name, 256, extension, 256) != 0)
        return false;
    if (m_strModuleName.empty() && !AssignText(m_strModuleName, name))
        return false;
    if (!m_strDirectory.empty())
        return true;
    return FalseOnOutOfMemory([&] { return AppendFormat(m_strDirectory, L"%s%s", drive, folder); });
}

} // namespace srLib
