#include "support/objectcount.h"

#include <windows.h>

namespace srKrv {
namespace {

volatile LONG g_lObjectCount = 0;

} // namespace

long GetObjectCount() noexcept
{
    return InterlockedCompareExchange(&g_lObjectCount, 0, 0);
}

void IncrementObjectCount() noexcept
{
    InterlockedIncrement(&g_lObjectCount);
}

void DecrementObjectCount() noexcept
{
    InterlockedDecrement(&g_lObjectCount);
}

} // namespace srKrv
