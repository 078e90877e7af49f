// The one place the module's version is set. The version resources of submca.dll and
// submca-inspect and the inspector's --version take it from here, so a support engineer reads
// the same number in a file's properties and in the tool's answer.
#pragma once

#define SUBMCA_VERSION_MAJOR 1
#define SUBMCA_VERSION_MINOR 0
#define SUBMCA_VERSION_PATCH 0
#define SUBMCA_VERSION_BUILD 0

#define SUBMCA_VERSION_STRINGIZE_(value) #value
#define SUBMCA_VERSION_STRINGIZE(value) SUBMCA_VERSION_STRINGIZE_(value)

// The four numbers as resources and the tool print them: "1.0.0.0".
#define SUBMCA_VERSION_TEXT                                                                                            \
    SUBMCA_VERSION_STRINGIZE(SUBMCA_VERSION_MAJOR)                                                                     \
    "." SUBMCA_VERSION_STRINGIZE(SUBMCA_VERSION_MINOR) "." SUBMCA_VERSION_STRINGIZE(                                   \
        SUBMCA_VERSION_PATCH) "." SUBMCA_VERSION_STRINGIZE(SUBMCA_VERSION_BUILD)
#define SUBMCA_VERSION_NUMBERS SUBMCA_VERSION_MAJOR, SUBMCA_VERSION_MINOR, SUBMCA_VERSION_PATCH, SUBMCA_VERSION_BUILD
