#include "support/registry.h"

#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/common/tracecapture.h"
#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;
using srLib::CRegistry;

namespace {

const wchar_t kKey[] = L"Software\\Korvalin\\SupportTests\\Registry";

// The string and number reads of each value: what they read, or "#" and the error; a refused read
// leaves its output as it was.
TEST(Registry, TypedReadsCheckTypeAndShape)
{
    DeleteKeyTree(kKey);
    CRegistry reg;
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, TRUE));
    const unsigned __int64 qword = 0x100000002ull;
    SetRaw(kKey, L"sz", REG_SZ, L"text", 10);
    SetRaw(kKey, L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", 18);
    SetRaw(kKey, L"multi", REG_MULTI_SZ, L"a\0b\0", 10);
    SetRaw(kKey, L"zero", REG_SZ, L"", 0);
    SetRaw(kKey, L"odd", REG_SZ, L"ab", 5);
    SetDword(kKey, L"dword", 7);
    SetRaw(kKey, L"qword", REG_QWORD, &qword, 8);
    const std::vector<std::pair<const wchar_t*, std::vector<std::string>>> cases = {
        {L"sz", {"text", "#13"}},   {L"expand", {"%TEMP%\\x", "#13"}}, {L"multi", {"#13", "#13"}},
        {L"zero", {"", "#13"}},     {L"odd", {"#13", "#13"}},          {L"dword", {"#13", "7"}},
        {L"qword", {"#13", "#13"}}, {L"missing", {"#2", "#2"}},
    };
    for (const auto& [name, expected] : cases) {
        std::wstring text = L"untouched";
        unsigned long number = 0xDEAD;
        const BOOL textRead = reg.GetString(name, text);
        const std::string textResult = textRead ? Narrow(text) : "#" + std::to_string(reg.GetLastError());
        const BOOL numberRead = reg.GetNumber(name, number);
        const std::string numberResult = numberRead ? std::to_string(number) : "#" + std::to_string(reg.GetLastError());
        EXPECT_EQ(expected, std::vector<std::string>({textResult, numberResult})) << Narrow(name);
        EXPECT_TRUE(textRead || text == L"untouched") << Narrow(name);
        EXPECT_TRUE(numberRead || number == 0xDEAD) << Narrow(name);
    }
}

TEST(Registry, OutOfMemoryBadRootAndClosingKeepTheLastError)
{
    CRegistry reg;
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, TRUE));
    SetString(kKey, L"long", L"a value longer than the string's own small buffer");
    std::wstring text = L"before";
    supporttest::CTraceCapture capture;
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(reg.GetString(L"long", text));
    EXPECT_EQ(ERROR_OUTOFMEMORY, reg.GetLastError());
    EXPECT_EQ(L"before", text);
    supporttest::DisarmAllocationFailure();
    EXPECT_EQ("Error : int __thiscall srLib::CRegistry::GetString(const wchar_t *,class ATL::CStringT<wchar_t,class "
              "ATL::StrTraitATL<wchar_t,class ATL::ChTraitsCRT<wchar_t> > > &) throw() : CCCATCH : std::bad_alloc, "
              "std::bad_alloc\n",
              capture.Take());
    {
        CRegistry owner;
        EXPECT_FALSE(owner.Open(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), L"Sub", KEY_READ, TRUE));
        EXPECT_EQ(ERROR_INVALID_HANDLE, owner.GetLastError());
        EXPECT_EQ(nullptr, owner.GetKey());
        EXPECT_TRUE(owner.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, FALSE));
        SetLastError(1234);
    }
    EXPECT_EQ(1234u, GetLastError()) << "the destructor keeps the thread's last error";
    reg.Close();
    DeleteKeyTree(kKey);
}

} // namespace
