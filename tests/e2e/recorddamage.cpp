#include "tests/e2e/recorddamage.h"

#include "tests/common/registry.h"

namespace testsupport {

namespace {
const wchar_t kSwitchKey[] = L"Software\\SubmcaTest\\Damage";
}

RecordDamage::RecordDamage(const wchar_t* file, const wchar_t* kind)
{
    SetString(kSwitchKey, L"File", file);
    SetString(kSwitchKey, L"Kind", kind);
}

RecordDamage::~RecordDamage()
{
    DeleteKeyTree(kSwitchKey);
}

} // namespace testsupport
