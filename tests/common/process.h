#pragma once
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    unsigned long exitCode = 0;
    bool timedOut = false;
    std::string output; // standard output and standard error together
};

// Starts a command line and waits at most timeoutMs; a process still running then is terminated
// and reported as timed out. With capture, its output is collected; leave it off for programs
// that start helpers of their own (msiexec), which would hold the pipe open.
ProcessResult RunProcess(const std::wstring& commandLine, unsigned long timeoutMs, bool capture = true);

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

} // namespace testsupport
