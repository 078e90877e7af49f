// The verdict on a session: whether the module failed the run, the signs its calls show without a
// line of the module saying so, and the verdict line a support engineer reads.
#pragma once

#include <string>

#include "inspector.h"
#include "logsession.h"

namespace inspector {

// The command's verdicts, each as its exit status.
enum class EVerdict {
    NothingWrong = INSPECT_OK,
    ModuleReportedProblems = INSPECT_REJECTED,
    NothingOfTheModule = INSPECT_IO_ERROR,
    FailedByModule = INSPECT_FAILED_BY_MODULE,
};

// Decides, once the session is finished, why the module failed it (if it did) and adds the signs.
void Judge(CLogSession& session);

EVerdict VerdictOf(const CLogSession& session);

// The verdict line's text after "verdict: ".
std::string VerdictText(const CLogSession& session);

} // namespace inspector
