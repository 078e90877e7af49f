#include "support/coinitialize.h"

#include "support/trace.h"

#include <comdef.h>
#include <objbase.h>

namespace srLib {
namespace {

const wchar_t kCoInitializeSignature[] =
    L"long __cdecl srLib::CCoInitialize::CoInitialize(enum srLib::CCoInitialize::ThreadModel) throw()";

long EnterApartment(CCoInitialize::ThreadModel model) noexcept
{
    switch (model) {
    case CCoInitialize::eMultiThreaded:
        TraceInfo(L"%s : %s\n", kCoInitializeSignature, L"COINIT_MULTITHREADED");
        return CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    case CCoInitialize::eApartmentThreaded:
        TraceInfo(L"%s : %s\n", kCoInitializeSignature, L"COINIT_APARTMENTTHREADED");
        return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    case CCoInitialize::eNone:
        return S_OK;
    default:
        TraceError(L"%s : switch(default)\n", kCoInitializeSignature);
        return E_FAIL;
    }
}

} // namespace

CCoInitialize::CCoInitialize(ThreadModel model)
{
    const long result = Initialize(model);
    if (FAILED(result)) {
        TraceError(L"__thiscall srLib::CCoInitialize::CCoInitialize(enum srLib::CCoInitialize::ThreadModel) "
                   L"throw(class _com_error) : Initialize() != S_OK, 0x%08X\n",
                   static_cast<unsigned>(result));
        _com_issue_error(result);
    }
}

CCoInitialize::~CCoInitialize()
{
    Uninitialize();
}

long CCoInitialize::Initialize(ThreadModel model) noexcept
{
    const long result = EnterApartment(model);
    if (FAILED(result)) {
        TraceError(L"long __thiscall srLib::CCoInitialize::Initialize(enum srLib::CCoInitialize::ThreadModel) throw() "
                   L": CoInitialize() != S_OK, 0x%08X\n",
                   static_cast<unsigned>(result));
        return result;
    }
    m_eModel = model;
    m_dwThreadId = GetCurrentThreadId();
    return result;
}

// COM must be left on the thread that entered it; on any other thread leaving would unbalance
// that thread's apartment instead.
void CCoInitialize::Uninitialize() noexcept
{
    if (m_eModel == eNone)
        return;
    if (m_dwThreadId != GetCurrentThreadId()) {
        TraceError(L"void __thiscall srLib::CCoInitialize::Uninitialize(void) throw() : "
                   L"m_dwThreadId != GetCurrentThreadId()\n");
        return;
    }
    CoUninitialize();
    m_eModel = eNone;
}

} // namespace srLib
