#include "update/update.h"

#include "service/clfsboundary.h"
#include "update/enginecomponent.h"
#include "update/lasterror.h"
#include "service/tracesite.h"

namespace clfs::update {
namespace {

using utils::HandedOut;
using utils::HresultFromLastError;
using utils::ThrowIfFailed;

const utils::CTraceSite kInitialize(L"long __thiscall clfs::update::CUpdate::Initialize(const wchar_t *) throw()");
const utils::CTraceSite kProcessFile(L"long __thiscall clfs::update::CUpdate::ProcessFile(void) throw()");

} // namespace

long CUpdate::Initialize(const wchar_t* path) noexcept
{
    return utils::RunClfsBoundary(kInitialize, [&]() -> long {
        if (!path || !*path)
            ThrowIfFailed(E_INVALIDARG);
        m_strFile = path;
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const long error = HresultFromLastError();
            kInitialize.Error(L"Could not get file attrib for %ls: 0x%08X", path, error);
            ThrowIfFailed(error);
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            ThrowIfFailed(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

        ThrowIfFailed(m_ServiceControl.Initialize(true));
        ThrowIfFailed(m_ServiceControl.StopService());

        const long created = CreateConfigManager(m_pConfigManager);
        if (created < 0) {
            const long error = HresultFromLastError();
            kInitialize.Error(L"Failed to get cfg mgr: sr = 0x%08X, hr = 0x%08X", created, error);
            ThrowIfFailed(error);
        }
        return 0;
    });
}

// Every existing configuration goes before the file's records are saved; the count is read once,
// so removing one does not move the ones still to be visited.
long CUpdate::ProcessFile() noexcept
{
    return utils::RunClfsBoundary(kProcessFile, [&]() -> long {
        if (!m_pConfigManager)
            ThrowIfFailed(E_POINTER);
        ThrowIfFailed(LoadXml());
        ThrowIfFailed(m_pConfigManager->LoadConfigs());
        DWORD count = 0;
        ThrowIfFailed(m_pConfigManager->GetConfigCount(&count));
        for (DWORD index = 0; index < count; ++index) {
            utils::CKrvRef<clfs::svc::IConfig> config;
            const long got = m_pConfigManager->GetConfigAt(index, config.Receive());
            ThrowIfFailed(HandedOut(got, config.Get()));
            ThrowIfFailed(m_pConfigManager->RemoveConfig(config.Get()));
        }
        ThrowIfFailed(Save());
        return 0;
    });
}

} // namespace clfs::update
