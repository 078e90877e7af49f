#pragma once
#include "tests/common/process.h"

#include <string>

// Some state of the module lives for the process (the logging threshold, the trace options), so
// cases that need it fresh run in a new process of the same test executable.
namespace testsupport {

using ChildFunction = int (*)(const std::string& argument);

bool RegisterChild(const char* name, ChildFunction function);

// Runs the function registered under name in a new process and waits for it (at most 60 s).
ProcessResult RunChild(const char* name, const std::string& argument = std::string());

// Called by main: runs the child named on the command line, if any; returns true when it did.
bool DispatchChild(int argc, char** argv, int& exitCode);

} // namespace testsupport

#define SUBMCA_CHILD(name)                                                                                             \
    static int name##_child(const std::string& argument);                                                              \
    static const bool name##_registered = testsupport::RegisterChild(#name, name##_child);                             \
    static int name##_child([[maybe_unused]] const std::string& argument)
