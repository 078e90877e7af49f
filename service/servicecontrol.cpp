#include "service/servicecontrol.h"

#include "support/stringimpl.h"
#include "service/clfsboundary.h"
#include "service/tracesite.h"

#include <cstdlib>
#include <cwchar>
#include <utility>

namespace clfs::update {

using utils::CKrvRef;
using utils::CTraceSite;
using utils::RunClfsBoundary;
using utils::ThrowIfFailed;

namespace {

const CTraceSite kInitialize(L"long __thiscall clfs::update::CServiceControl::Initialize(bool)");
const CTraceSite kStopService(L"long __thiscall clfs::update::CServiceControl::StopService(void)");
const CTraceSite kStartService(L"long __thiscall clfs::update::CServiceControl::StartServiceW(void)");
const CTraceSite kDestructor(L"__thiscall clfs::update::CServiceControl::~CServiceControl(void)");

const wchar_t kEngineBaseName[] = L"vexcore";
const wchar_t kEngineFileName[] = L"vexcore.dll";
// The name the engine module is loaded under when the host reported none.
const wchar_t kDefaultModuleName[] = L"ORBSubmissionEngine";

// The text of a string object the host handed out; empty for none. A string set as 8-bit text
// reports its length in bytes, which can exceed the characters of its wide form.
std::wstring TextOf(const CKrvRef<sr::IString>& text)
{
    const wchar_t* wide = text ? text->GetStringW() : nullptr;
    if (!wide)
        return std::wstring();
    return std::wstring(wide, wcsnlen(wide, text->GetLength()));
}

// Whether the file name of path, without its extension, names the engine module; false with an
// error trace when the path cannot be split.
bool NamesEngineModule(const std::wstring& path)
{
    wchar_t drive[_MAX_DRIVE];
    wchar_t folder[_MAX_DIR];
    wchar_t fileName[_MAX_FNAME];
    wchar_t extension[_MAX_EXT];
    if (_wsplitpath_s(path.c_str(), drive, _MAX_DRIVE, folder, _MAX_DIR, fileName, _MAX_FNAME, extension, _MAX_EXT) !=
        0) {
        kInitialize.Error(L"Failed to split %ls", path.c_str());
        return false;
    }
    if (CompareStringOrdinal(fileName, -1, kEngineBaseName, -1, TRUE) != CSTR_EQUAL) {
        kInitialize.Warning(L"%s != %s", fileName, kEngineFileName);
        return false;
    }
    return true;
}

} // namespace

CServiceControl::CServiceControl() noexcept = default;

CServiceControl::~CServiceControl()
{
    if (m_bAutoRestart) {
        kDestructor.Info(L"Attempting to auto-restart the submission service");
        StartService();
        kDestructor.Info(L"Done.");
    } else {
        kDestructor.Warning(L"NOT attempting to auto-restart the submission service");
    }
    m_spServiceConfig.Release();
    m_spServiceManager.Release();
    std::wstring().swap(m_sModuleName);
    std::wstring().swap(m_sModulePath);
}

long CServiceControl::Initialize(bool bAutoRestart) noexcept
{
    m_bAutoRestart = bAutoRestart;
    return RunClfsBoundary(kInitialize, [this] { return RunInitialize(); });
}

long CServiceControl::StopService() noexcept
{
    return RunClfsBoundary(kStopService, [this] { return RunStopService(); });
}

long CServiceControl::StartService() noexcept
{
    return RunClfsBoundary(kStartService, [this] { return RunStartService(); });
}

long CServiceControl::RunInitialize()
{
    m_spServiceConfig.Release();
    m_spServiceManager.Release();
    if (!ConnectToServiceManager())
        return S_OK;

    CKrvRef<srService::IServiceConfigCollection> configs;
    ThrowIfFailed(static_cast<long>(m_spServiceManager->GetRunningServices(configs.Receive())));
    // A host that reports success without a collection has handed out nothing to search.
    if (!configs)
        ThrowIfFailed(E_POINTER);
    const unsigned long configCount = configs->GetCount();
    kInitialize.Info(L"%d running services", configCount);
    FindEngineModule(configs.Get(), configCount);
    return S_OK;
}

// A host that cannot be reached counts as an engine that is not running: traced, not raised.
bool CServiceControl::ConnectToServiceManager()
{
    KRVRESULT result = m_ServiceManagerLoader.IsLoaded() ? KRV_S_OK : m_ServiceManagerLoader.Load();
    if (!KrvFailed(result)) {
        result = m_ServiceManagerLoader.CreateObject(m_spServiceManager.Receive());
        if (!KrvFailed(result) && !m_spServiceManager)
            result = KRV_E_UNEXPECTED;
    }
    if (!KrvFailed(result))
        return true;
    kInitialize.Error(L"Failed to create svc manager: 0x%08X", result);
    return false;
}

// The first configuration, in the host's order, that has the engine module loaded wins.
void CServiceControl::FindEngineModule(srService::IServiceConfigCollection* configs, unsigned long configCount)
{
    for (unsigned long configIndex = 0; configIndex < configCount; ++configIndex) {
        CKrvRef<srService::IServiceConfig> config;
        if (!configs->GetItem(configIndex, config.Receive()) || !config) {
            kInitialize.Error(L"Failed to get config at index %d", configIndex);
            continue;
        }
        if (SearchConfig(config.Get(), configIndex)) {
            m_spServiceConfig = std::move(config);
            m_bRunning = true;
            return;
        }
    }
}

// On a find, the module's path and name are in m_sModulePath and m_sModuleName.
bool CServiceControl::SearchConfig(srService::IServiceConfig* config, unsigned long configIndex)
{
    CKrvRef<srService::IModuleCollection> modules;
    KRVRESULT result = config->GetLoadedModules(modules.Receive());
    // Success without a collection is reported like a failure, as a missing pointer.
    if (!KrvFailed(result) && !modules)
        result = static_cast<KRVRESULT>(E_POINTER);
    if (KrvFailed(result)) {
        kInitialize.Error(L"Failed to get loaded modules: 0x%08X", result);
        return false;
    }
    const unsigned long moduleCount = modules->GetCount();
    for (unsigned long moduleIndex = 0; moduleIndex < moduleCount; ++moduleIndex) {
        std::wstring path;
        std::wstring name;
        if (IsEngineModule(modules.Get(), moduleIndex, configIndex, path, name)) {
            m_sModulePath.swap(path);
            m_sModuleName.swap(name);
            return true;
        }
    }
    return false;
}

bool CServiceControl::IsEngineModule(srService::IModuleCollection* modules, unsigned long moduleIndex,
                                     unsigned long configIndex, std::wstring& path, std::wstring& name)
{
    CKrvRef<srService::IServiceModule> module;
    if (!modules->GetItem(moduleIndex, module.Receive()) || !module) {
        kInitialize.Info(L"Failed to get module %d from config %d", moduleIndex, configIndex);
        return false;
    }
    CKrvRef<sr::IString> pathText;
    const KRVRESULT result = module->GetPath(pathText.Receive());
    if (KrvFailed(result)) {
        kInitialize.Error(L"Failed to get module path: 0x%08X", result);
        return false;
    }
    path = TextOf(pathText);
    if (path.empty()) {
        kInitialize.Error(L"Module path is empty");
        return false;
    }
    kInitialize.Info(L"Module path = [%ls]", path.c_str());
    CKrvRef<sr::IString> nameText;
    module->GetName(nameText.Receive());
    if (!NamesEngineModule(path))
        return false;
    kInitialize.Info(L"Found %s", kEngineFileName);
    name = TextOf(nameText);
    return true;
}

long CServiceControl::RunStopService()
{
    if (!m_bRunning) {
        kStopService.Warning(L"Service was not running, can't stop");
        return S_OK;
    }
    if (m_bStopped) {
        kStopService.Warning(L"Svc already stopped");
        return S_OK;
    }
    if (!m_spServiceConfig)
        ThrowIfFailed(E_POINTER);
    ThrowIfFailed(static_cast<long>(m_spServiceConfig->UnloadModule(m_sModulePath.c_str())));
    m_bStopped = true;
    return S_OK;
}

long CServiceControl::RunStartService()
{
    if (!m_bRunning) {
        kStartService.Warning(L"Service not previously running, ignoring startservice command");
        return S_OK;
    }
    if (!m_bStopped) {
        kStartService.Warning(L"Service running, but has not been stopped yet");
        return S_OK;
    }
    if (!m_spServiceConfig || !m_spServiceManager)
        ThrowIfFailed(E_POINTER);
    if (m_sModuleName.empty())
        m_sModuleName = kDefaultModuleName;
    ThrowIfFailed(static_cast<long>(m_spServiceConfig->LoadModule(m_sModulePath.c_str(), m_sModuleName.c_str())));
    m_bStopped = false;
    return S_OK;
}

} // namespace clfs::update
