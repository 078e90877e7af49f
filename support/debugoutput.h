#pragma once
#include "support/criticalsection.h"
#include "support/handle.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <string>

namespace srLib {

// A trace channel. It decides per line whether the line is written, builds it with the
// prefixes its settings ask for and delivers it to the debugger output and/or the log file
// "<directory>\<module name>[-0x<process id>].log" (UTF-16LE, a byte-order mark when the file
// is created, lines always appended). Every getter, setter and the enabled test first make
// sure the settings are in place (Initialize). Any thread may trace: initialisation, opening
// the file and writing to it run under the object's lock; building lines does not.
class CDebugOutput {
public:
    enum Level {
        eInformation = 1,
        eWarning = 2,
        eError = 3,
    };

    explicit CDebugOutput(const wchar_t* moduleName) noexcept;
    CDebugOutput(const CDebugOutput&) = delete;
    CDebugOutput& operator=(const CDebugOutput&) = delete;
    virtual ~CDebugOutput();

    // Delivers a finished line; write errors are ignored.
    virtual void OutputString(const wchar_t* line) noexcept;
    // 1 when the settings are in place, 0 when getting them failed.
    virtual int Initialize() noexcept;

    // Whether a line of this level would be written: the threshold is not 0 and not above it.
    bool IsEnabled(int level) noexcept;
    // Builds and delivers one line when the level is enabled; a line that cannot be built is
    // dropped.
    void Trace(int level, const wchar_t* format, va_list args) noexcept;

    int GetLevel() noexcept { return GetSetting(m_nLevel); }
    void SetLevel(int level) noexcept { SetSetting(m_nLevel, level); }
    // The name and the directory stay valid until they are changed.
    const wchar_t* GetModuleName() noexcept;
    const wchar_t* GetDirectory() noexcept;
    // These three change the log file's name: an open file is closed and the file of the new
    // name opened. The string setters fail only when the text cannot be stored.
    bool SetModuleName(const wchar_t* moduleName) noexcept;
    bool SetDirectory(const wchar_t* directory) noexcept;
    void SetAppendProcessIdToFile(int value) noexcept;
    int GetAppendProcessIdToFile() noexcept { return GetSetting(m_bAppendProcessIdToFile); }

    int GetOutputToDebugger() noexcept { return GetSetting(m_bOutputToDebugger); }
    void SetOutputToDebugger(int value) noexcept { SetSetting(m_bOutputToDebugger, value); }
    int GetOutputToFile() noexcept { return GetSetting(m_bOutputToFile); }
    void SetOutputToFile(int value) noexcept { SetSetting(m_bOutputToFile, value); }
    int GetPrependThreadId() noexcept { return GetSetting(m_bPrependThreadId); }
    void SetPrependThreadId(int value) noexcept { SetSetting(m_bPrependThreadId, value); }
    int GetPrependProcessId() noexcept { return GetSetting(m_bPrependProcessId); }
    void SetPrependProcessId(int value) noexcept { SetSetting(m_bPrependProcessId, value); }
    int GetPrependDateTime() noexcept { return GetSetting(m_bPrependDateTime); }
    void SetPrependDateTime(int value) noexcept { SetSetting(m_bPrependDateTime, value); }
    int GetPrependModuleName() noexcept { return GetSetting(m_bPrependModuleName); }
    void SetPrependModuleName(int value) noexcept { SetSetting(m_bPrependModuleName, value); }
    int GetAppendNewLine() noexcept { return GetSetting(m_bAppendNewLine); }
    void SetAppendNewLine(int value) noexcept { SetSetting(m_bAppendNewLine, value); }
    int GetPrependType() noexcept { return GetSetting(m_bPrependType); }
    void SetPrependType(int value) noexcept { SetSetting(m_bPrependType, value); }

protected:
    CCriticalSection& GetLock() noexcept { return m_lock; }
    bool IsInitialized() const noexcept { return m_bInitialized.load(std::memory_order_acquire); }
    void SetInitialized() noexcept { m_bInitialized.store(true, std::memory_order_release); }
    // Fills an empty module name (the host executable's file name without extension) and an
    // empty directory (the host executable's folder); false when the host's path is unusable.
    bool FillNamesFromHost() noexcept;

private:
    int GetSetting(const int& setting) noexcept
    {
        Initialize();
        return setting;
    }
    void SetSetting(int& setting, int value) noexcept
    {
        Initialize();
        setting = value;
    }
    bool SetFileNamePart(std::wstring& part, const wchar_t* value) noexcept;
    bool BuildLine(std::wstring& line, int level, const wchar_t* format, va_list args) const;
    // Called under the lock.
    void OpenLogFile() noexcept;
    bool BuildLogFileName(std::wstring& path) const;

    int m_nLevel = 0;
    std::wstring m_strModuleName;
    std::wstring m_strDirectory;
    int m_bOutputToDebugger = 0;
    int m_bOutputToFile = 0;
    int m_bAppendProcessIdToFile = 0;
    int m_bPrependThreadId = 0;
    int m_bPrependProcessId = 0;
    int m_bPrependDateTime = 0;
    int m_bPrependModuleName = 0;
    int m_bAppendNewLine = 0;
    int m_bPrependType = 0;
    CHandle m_file;
    CCriticalSection m_lock;
    std::atomic<bool> m_bInitialized{false};
};

} // namespace srLib
