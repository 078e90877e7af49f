#include "logcalls.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "text.h"

namespace inspector {

const char DRIVER_ACTION[] = "SubmissionEnginePatchRelay";
const char DRIVER_SEQUENCE[] = "SUB_PR_Action";

namespace {

const char* const EXPORTS[] = {"UnloadSubmissionService", "UpdateQSN", "RegisterPR", "WriteInstalledAppsKey"};

// Bounds of what one call keeps of its driver lines.
constexpr size_t MAX_NAMES = 256;

const struct {
    const char* pszDriverPhase; // as the driver writes it in "<Phase> (Begin): NAME"
    EPhase phase;
} DRIVER_PHASES[] = {{"Scheduling", EPhase::Immediate},
                     {"Deferred", EPhase::Deferred},
                     {"Rollback", EPhase::Rollback},
                     {"Commit", EPhase::Commit}};

bool EndsWith(std::string_view text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::string ResultText(int returnValue, bool windows)
{
    const char* meaning = "unknown";
    switch (returnValue) {
    case 1:
        meaning = "succeeded";
        break;
    case 2:
        meaning = "cancelled";
        break;
    case 3:
        meaning = "failed";
        break;
    case 0:
        meaning = windows ? "not run" : "failed";
        break;
    default:
        break;
    }
    return "Return value " + std::to_string(returnValue) + " (" + meaning + ")";
}

} // namespace

std::string Shown(const std::string& text)
{
    const std::string escaped =
        Escape(reinterpret_cast<const uint8_t*>(text.data()), std::min(text.size(), MAX_SHOWN_LENGTH));
    return text.size() > MAX_SHOWN_LENGTH ? escaped + "..." : escaped;
}

std::string ExportByEntryPoint(const std::string& entryPoint)
{
    for (const char* exported : EXPORTS) {
        if (entryPoint == exported)
            return exported;
    }
    return std::string();
}

std::string ExportByName(const std::string& name)
{
    for (const char* exported : EXPORTS) {
        const size_t length = std::strlen(exported);
        if (name.size() >= length && EqualsIgnoringCase(name.substr(0, length), exported) &&
            (name.size() == length || !std::isalnum(static_cast<unsigned char>(name[length]))))
            return exported;
    }
    return std::string();
}

const char* PhaseText(EPhase phase)
{
    switch (phase) {
    case EPhase::Immediate:
        return "immediate";
    case EPhase::Deferred:
        return "deferred";
    case EPhase::Rollback:
        return "rollback";
    case EPhase::Commit:
        return "commit";
    case EPhase::Unknown:
        break;
    }
    return "";
}

void CBoundedNames::Add(const std::string& name)
{
    const auto found = m_counts.find(name);
    if (found != m_counts.end())
        ++found->second;
    else if (m_counts.size() < m_limit)
        m_counts.emplace(name, 1);
    else
        ++m_notKept;
}

bool CBoundedNames::Take(const std::string& name)
{
    const auto found = m_counts.find(name);
    if (found == m_counts.end())
        return false;
    if (--found->second == 0)
        m_counts.erase(found);
    return true;
}

CCall::CCall() : begun(MAX_NAMES), ran(MAX_NAMES), falseConditions(MAX_NAMES) {}

const SLineMeaning* CCall::AddLine(const std::string& text, bool keep)
{
    const SLineMeaning* meaning = FindMeaning(ELineSource::InstallerLog, text);
    if (keep)
        lines.push_back({text.substr(0, MAX_SHOWN_LENGTH + 1), meaning});
    else
        ++linesNotKept;

    // The driver's lines: "<Phase> (Begin): NAME", "<Phase> (End): NAME", "NAME: (condition is
    // false)", "Failure in NAME, returning ERROR_INSTALL_FAILURE.".
    const size_t colon = text.find(": ");
    const std::string_view body =
        colon == std::string::npos ? std::string_view() : std::string_view(text).substr(colon + 2);
    for (const auto& driver : DRIVER_PHASES) {
        const size_t length = std::strlen(driver.pszDriverPhase);
        if (body.compare(0, length, driver.pszDriverPhase) != 0)
            continue;
        if (body.compare(length, 10, " (Begin): ") == 0) {
            if (phase == EPhase::Unknown)
                phase = driver.phase;
            begun.Add(std::string(body));
            ran.Add(std::string(body.substr(length + 10)));
        } else if (body.compare(length, 8, " (End): ") == 0) {
            begun.Take(std::string(driver.pszDriverPhase) + " (Begin): " + std::string(body.substr(length + 8)));
        }
    }
    const char conditionFalse[] = ": (condition is false)";
    if (body.size() > sizeof(conditionFalse) && EndsWith(body, conditionFalse))
        falseConditions.Add(std::string(body.substr(0, body.size() - sizeof(conditionFalse) + 1)));
    const char failure[] = "Failure in ";
    if (!StartsWith(body, failure) || !failedDriverAction.empty())
        return meaning;
    const size_t returning = body.find(", returning ERROR_INSTALL_FAILURE.");
    if (returning != std::string::npos)
        failedDriverAction = std::string(body.substr(sizeof(failure) - 1, returning - sizeof(failure) + 1));
    return meaning;
}

bool CCall::Failed(bool windows) const
{
    if (errorCode > 0 && !errorIgnored)
        return true;
    return returnValue == 3 || (returnValue == 0 && !windows);
}

std::string CCall::Describe(bool windows) const
{
    std::string text = exportName.empty() ? "an action of the framework's driver" : exportName;
    if (!installerAction.empty())
        text += ": action \"" + Shown(installerAction) + "\"";
    text += ", ";
    if (phase != EPhase::Unknown)
        text += PhaseText(phase);
    else if (inScript)
        text += afterFailure ? "rollback" : "deferred or commit";
    else if (installerAction.empty())
        text += "phase not in the log";
    else
        text += "immediate";
    text += ", ";
    if (returnValue >= 0)
        text += ResultText(returnValue, windows);
    else if (errorCode > 0 && !errorIgnored)
        text += "failed";
    else if (scriptWentOn)
        text += "succeeded (the script went on)";
    else if (openAtEnd)
        text += "the log ends inside the call";
    else
        text += "no Return value in the log";
    if (errorCode >= 0)
        text += errorIgnored
                    ? ", error code " + std::to_string(errorCode) + " translated to success by continue marking"
                    : ", error code " + std::to_string(errorCode);
    return text;
}

} // namespace inspector
