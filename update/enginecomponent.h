#pragma once
#include "update/engineinterfaces.h"
#include "support/krvref.h"

namespace clfs::update {

// Loads the submission engine "vexcore.dll" from the folder the InstalledApps value
// "ORBSubmissionEngine" names, through the module lifetime manager (trust-checked), and creates
// its configuration manager into manager (released first). Answers the manager's KRVRESULT:
// 0x80010300 when the folder is unknown or too long for a path, 0x80010203 without a lifetime
// manager.
long CreateConfigManager(utils::CKrvRef<clfs::svc::IConfigManager>& manager) noexcept;

} // namespace clfs::update
