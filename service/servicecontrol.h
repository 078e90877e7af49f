#pragma once
// With the platform's wide-character naming in force, StartService is StartServiceW, here as in
// every unit that includes this header, so the operation has one name throughout the module.
#include <windows.h>
#include <winsvc.h>

#include "service/trustedloader.h"
#include "support/krvref.h"

#include <string>

namespace clfs::update {

// Stops the submission engine by unloading its module ("vexcore.dll") from the running
// configuration of the shared service host that has it loaded, and starts it by loading the
// module there again, by itself on destruction when asked to. Call order: Initialize, then
// StopService, optionally StartService. The operations answer HRESULTs and throw nothing;
// a failing call of the service host comes back as the operation's result, unchanged.
class CServiceControl {
public:
    CServiceControl() noexcept;
    CServiceControl(const CServiceControl&) = delete;
    CServiceControl& operator=(const CServiceControl&) = delete;
    // Restarts the engine when Initialize was asked to (and it was stopped), then releases the
    // host's objects before it frees the host's module.
    virtual ~CServiceControl();

    // Connects to the service host and looks for the engine module. 0 also when the host cannot
    // be reached or the engine is not loaded anywhere: then the engine counts as not running.
    long Initialize(bool bAutoRestart) noexcept;
    // Unloads the engine module; a warning and 0 unless Initialize found it and it is loaded.
    long StopService() noexcept;
    // Loads the engine module again; a warning and 0 unless StopService unloaded it.
    long StartService() noexcept;

private:
    bool ConnectToServiceManager();
    void FindEngineModule(srService::IServiceConfigCollection* configs, unsigned long configCount);
    bool SearchConfig(srService::IServiceConfig* config, unsigned long configIndex);
    bool IsEngineModule(srService::IModuleCollection* modules, unsigned long moduleIndex, unsigned long configIndex,
                        std::wstring& path, std::wstring& name);
    long RunInitialize();
    long RunStopService();
    long RunStartService();

    sr::CServiceManagerLoader m_ServiceManagerLoader;
    utils::CKrvRef<srService::IServiceManager> m_spServiceManager;
    utils::CKrvRef<srService::IServiceConfig> m_spServiceConfig;
    std::wstring m_sModuleName;
    std::wstring m_sModulePath;
    bool m_bRunning = false;
    bool m_bStopped = false;
    bool m_bAutoRestart = false;
};

} // namespace clfs::update
