#include "service/krvresult.h"

#include "support/trace.h"

#include <windows.h>

namespace clfs::utils {
namespace {

struct CResultPair {
    KRVRESULT sr;
    unsigned long hr;
};

// Searched from the top: the first equal code decides.
const CResultPair kResults[] = {
    {0x00010000, 0x00000000}, {0x8001FFFF, 0x80004005}, {0x80010203, 0x80070057}, {0x80010200, 0x80004002},
    {0x80010201, 0x8007000E}, {0x80010202, 0x80004001}, {0x80010204, 0x80070005}, {0x80010300, 0x80070003},
    {0x80010302, 0x8007007F}, {0x80010303, 0x8007000B}, {0x00010001, 0x00000001}, {0x80000100, 0x80070490},
    {0x80000200, 0x8007007A}, {0x80000202, 0x8007054F}, {0x80000203, 0x800401F0}, {0x80000204, 0x80010110},
    {0x80000206, 0x800706F8}, {0x80000207, 0x80004011}, {0x80000208, 0x80028CA0}, {0x80000205, 0x8000FFFF},
    {0x80000201, 0x80028CA0},
};

} // namespace

long KrvresultToHresult(unsigned long sr) noexcept
{
    if (static_cast<long>(sr) < 0)
        TraceError(L"long __cdecl clfs::utils::KrvresultToHresult(unsigned long) : sr = 0x%08X", sr);
    for (const CResultPair& pair : kResults) {
        if (pair.sr == sr)
            return static_cast<long>(pair.hr);
    }
    return E_FAIL;
}

} // namespace clfs::utils
