#include "tests/common/process.h"

#include <windows.h>

#include <thread>
#include <vector>

namespace testsupport {

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
    // CreateProcessW may write into the command line it is given.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    startup.cb = sizeof(startup);
    const bool started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, capture, 0, nullptr, nullptr, &startup, &process);
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
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    reader.join();
    if (capture)
        CloseHandle(readEnd);
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
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
    return narrow;
}

} // namespace testsupport
