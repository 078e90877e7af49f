#include "framework/logmessage.h"
#include "service/servicecontrol.h"

using InstallToolBox::LOG_LEVEL_ERROR;
using InstallToolBox::LOG_LEVEL_VERBOSE;
using InstallToolBox::LogMessage;

namespace {

// Stops the engine and leaves it stopped: the destructor of the service control does not
// restart it. Returns the last result of the service control.
long StopEngine(MSIHANDLE hInstall)
{
    clfs::update::CServiceControl serviceControl;
    long hr = serviceControl.Initialize(false);
    if (hr < 0) {
        LogMessage(hInstall, LOG_LEVEL_ERROR,
                   L"Failed to initialize svc Control.  Submission Service not running. hr = 0x%08X", hr);
    } else {
        LogMessage(hInstall, LOG_LEVEL_VERBOSE, L"Service control initialization succeeded.  Stopping the service");
        hr = serviceControl.StopService();
        if (hr < 0)
            LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to stop the submission service: 0x%08X", hr);
    }
    LogMessage(hInstall, LOG_LEVEL_VERBOSE, L"Exiting Submission service shutdown.  Result: 0x%08X", hr);
    return hr;
}

} // namespace

// Unloads the submission engine from the shared service host before its files are replaced. It
// never fails the installation; what went wrong is in the installer log and the trace.
extern "C" UINT __stdcall UnloadSubmissionService(MSIHANDLE hInstall)
{
    LogMessage(hInstall, LOG_LEVEL_VERBOSE, L"Shutting down the submission service...");
    StopEngine(hInstall);
    return ERROR_SUCCESS;
}
