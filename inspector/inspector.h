// submca-inspect: reads the files the module leaves on a machine (the control file and the
// framework's record files) and explains them for support engineers.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace inspector {

// Exit statuses, the same for every command.
enum ExitStatus : int {
    INSPECT_OK = 0,               // the module reads the file as shown (or the command did its work)
    INSPECT_REJECTED = 1,         // the module would refuse the file or treat it as missing
    INSPECT_USAGE = 2,            // the command line is wrong
    INSPECT_IO_ERROR = 3,         // a file could not be read or written, or memory ran out
    INSPECT_TOOL_LIMIT = 4,       // the file is beyond a limit of this tool, which gives no verdict on it
    INSPECT_FAILED_BY_MODULE = 5, // log: the installation failed because of the module
};

// Where a command writes. out takes reports and decoded content; err takes the one-line
// failure messages, and the report whenever out carries decoded content.
struct SConsole {
    std::ostream& out;
    std::ostream& err;
};

// Runs one command line (the arguments after the program name, as UTF-8) and returns its exit
// status. Never throws.
int Run(const std::vector<std::string>& arguments, SConsole& console) noexcept;

} // namespace inspector
