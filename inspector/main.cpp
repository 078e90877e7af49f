// Entry point of submca-inspect: the arguments as UTF-8, standard output in binary mode so that
// decoded content and reports come out byte for byte the same on every platform.
#include <iostream>

#include "inspector.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

std::string ToUtf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string narrow(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.pop_back();
    return narrow;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(ToUtf8(argv[i]));
    inspector::SConsole console{std::cout, std::cerr};
    return inspector::Run(arguments, console);
}

#else

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    inspector::SConsole console{std::cout, std::cerr};
    return inspector::Run(arguments, console);
}

#endif
