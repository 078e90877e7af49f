#include "tests/common/process.h"

#include <windows.h>

#include <thread>
#include <vector>

namespace testsupport {
namespace {

// CreateProcessW may write into the command line it is given.
bool Start(const std::wstring& commandLine, BOOL inherit, DWORD flags, STARTUPINFOW& startup,
           PROCESS_INFORMATION& process)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr, &startup,
                          &process);
}

DWORD Finish(const PROCESS_INFORMATION& process)
{
    DWORD exitCode = 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info)
{
    const size_t charSize = info.fUnicode ? sizeof(wchar_t) : 1;
    std::vector<char> bytes(static_cast<size_t>(info.nDebugStringLength) * charSize);
    SIZE_T got = 0;
    ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &got);
    std::string text = info.fUnicode ? Narrow(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), got / 2))
                                     : std::string(bytes.data(), got);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

} // namespace

ProcessResult RunProcess(const std::wstring& commandLine, unsigned long timeoutMs, bool capture)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (capture && !CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        result.exitCode = GetLastError();
        return result;
    }
    STARTUPINFOW startup = {};
    if (capture) {
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
    }
    PROCESS_INFORMATION process = {};
    const bool started = Start(commandLine, capture, 0, startup, process);
    if (!started)
        result.exitCode = GetLastError();
    if (capture)
        CloseHandle(writeEnd);
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (capture && ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            result.output.append(buffer, got);
    });
    if (started && WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        result.timedOut = true;
        TerminateProcess(process.hProcess, 1);
    }
    if (started)
        result.exitCode = Finish(process);
    reader.join();
    if (capture)
        CloseHandle(readEnd);
    return result;
}

DebuggedResult RunUnderDebugger(const std::wstring& commandLine, unsigned long timeoutMs)
{
    DebuggedResult result;
    STARTUPINFOW startup = {};
    PROCESS_INFORMATION process = {};
    if (!Start(commandLine, FALSE, DEBUG_ONLY_THIS_PROCESS, startup, process)) {
        result.exitCode = GetLastError();
        return result;
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (bool running = true; running;) {
        DEBUG_EVENT event = {};
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !WaitForDebugEvent(&event, static_cast<DWORD>(deadline - now))) {
            result.timedOut = true;
            TerminateProcess(process.hProcess, 1);
            DebugActiveProcessStop(process.dwProcessId);
            break;
        }
        DWORD continueStatus = DBG_CONTINUE;
        if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT)
            result.debugStrings.push_back(ReadDebugString(process.hProcess, event.u.DebugString));
        else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT
                 && event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
            continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT)
            CloseHandle(event.u.LoadDll.hFile);
        else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            running = false;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    result.exitCode = Finish(process);
    return result;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                        nullptr);
    return narrow;
}

} // namespace testsupport
