#include "tests/common/child.h"

#include "tests/common/process.h"

#include <windows.h>

#include <cstring>
#include <map>

namespace testsupport {
namespace {

std::map<std::string, ChildFunction>& Registry()
{
    static std::map<std::string, ChildFunction> children;
    return children;
}

const char kChildSwitch[] = "--submca-child";

std::wstring ChildCommandLine(const char* name, const std::string& argument)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return L"\"" + std::wstring(self) + L"\" " + Widen(kChildSwitch) + L" " + Widen(name) + L" \"" + Widen(argument) +
           L"\"";
}

} // namespace

bool RegisterChild(const char* name, ChildFunction function)
{
    Registry()[name] = function;
    return true;
}

ProcessResult RunChild(const char* name, const std::string& argument)
{
    return RunProcess(ChildCommandLine(name, argument), 60000);
}

bool DispatchChild(int argc, char** argv, int& exitCode)
{
    if (argc < 3 || std::strcmp(argv[1], kChildSwitch) != 0)
        return false;
    const auto found = Registry().find(argv[2]);
    exitCode = found == Registry().end() ? 255 : found->second(argc > 3 ? argv[3] : "");
    fflush(stdout);
    return true;
}

} // namespace testsupport
