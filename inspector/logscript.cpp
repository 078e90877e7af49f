#include "logscript.h"

namespace inspector {

namespace {

constexpr size_t MAX_QUEUED_COMMITS = 64;

} // namespace

void CScript::RunnerStarted()
{
    m_mode = EMode::Forward;
    m_action.clear();
    m_commits.clear();
}

void CScript::RunnerEnded()
{
    if (m_mode != EMode::Rollback)
        m_mode = EMode::Outside;
}

CScript::SStep CScript::Operation(const SInstallerLine& line, bool afterFailure)
{
    if (m_mode == EMode::Outside)
        m_mode = afterFailure ? EMode::Rollback : EMode::Forward;
    SStep step;
    switch (line.form) {
    case EForm::ScriptHeader:
        if (line.number == SCRIPT_TYPE_ROLLBACK)
            m_mode = EMode::Rollback;
        return step;
    case EForm::ScriptActionStart:
        m_action = line.name;
        return step;
    case EForm::ScriptEnd:
        m_mode = m_mode == EMode::Forward ? EMode::AfterEnd : EMode::Outside;
        return step;
    case EForm::ScriptSchedule:
    case EForm::ScriptRollback:
    case EForm::ScriptCommit:
        break;
    default:
        return step;
    }
    step.action = line.name;
    step.exportName = ExportByEntryPoint(line.target);
    if (m_mode == EMode::Rollback || line.form == EForm::ScriptRollback) {
        step.phase = EPhase::Rollback;
    } else if (line.form == EForm::ScriptCommit) {
        step.phase = EPhase::Commit;
    } else if ((line.number & ACTION_TYPE_ROLLBACK) != 0 && line.number > 0) {
        return {}; // queued for the rollback script
    } else if ((line.number & ACTION_TYPE_COMMIT) != 0 && line.number > 0) {
        if (m_commits.size() == MAX_QUEUED_COMMITS)
            m_commits.pop_front();
        m_commits.push_back({line.name, step.exportName});
        return {};
    } else {
        step.phase = EPhase::Deferred;
    }
    step.call = !step.exportName.empty();
    return step;
}

CScript::SStep CScript::RemoteCall(const std::string& exportName)
{
    SStep step;
    step.exportName = exportName;
    step.phase = EPhase::Commit;
    step.call = true;
    for (auto queued = m_commits.begin(); queued != m_commits.end(); ++queued) {
        if (queued->exportName == exportName || exportName.empty()) {
            step.action = queued->action;
            step.exportName = queued->exportName;
            m_commits.erase(queued);
            break;
        }
    }
    return step;
}

} // namespace inspector
