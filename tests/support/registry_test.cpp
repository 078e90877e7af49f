#include "support/memory.h"
#include "support/registry.h"

#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;
using srLib::CRegistry;

namespace {

const wchar_t kKey[] = L"Software\\Korvalin\\SupportTests\\Registry";
const HKEY kNoSuchRoot = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKey);
        ASSERT_TRUE(m_reg.Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, TRUE));
    }
    void TearDown() override
    {
        m_reg.Close();
        DeleteKeyTree(kKey);
    }

    CRegistry m_reg;
};

// Each typed read (string buffer, string object, 32-bit, 64-bit, binary) of each value: what it
// read, or "#" and the error; a refused read leaves its output as it was.
TEST_F(RegistryTest, TypedReadsCheckTypeAndShape)
{
    const unsigned __int64 qword = 0x100000002ull;
    SetRaw(kKey, L"sz", REG_SZ, L"text", 10);
    SetRaw(kKey, L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", 18);
    SetRaw(kKey, L"multi", REG_MULTI_SZ, L"a\0b\0", 10);
    SetRaw(kKey, L"zero", REG_SZ, L"", 0);
    SetRaw(kKey, L"odd", REG_SZ, L"ab", 5);
    SetDword(kKey, L"dword", 7);
    SetRaw(kKey, L"qword", REG_QWORD, &qword, 8);
    SetRaw(kKey, L"binary", REG_BINARY, "\x01\x02\x03", 3);
    const std::vector<std::pair<const wchar_t*, std::vector<std::string>>> cases = {
        {L"sz", {"text", "text", "#13", "#13", "#13"}},
        {L"expand", {"%TEMP%\\x", "%TEMP%\\x", "#13", "#13", "#13"}},
        {L"multi", {"a", "#13", "#13", "#13", "#13"}},
        {L"zero", {"", "", "#13", "#13", "#13"}},
        {L"odd", std::vector<std::string>(5, "#13")},
        {L"dword", {"#13", "#13", "7", "#13", "#13"}},
        {L"qword", {"#13", "#13", "#13", "4294967298", "#13"}},
        {L"binary", {"#13", "#13", "#13", "#13", "1 2 3"}},
        {L"missing", std::vector<std::string>(5, "#2")},
    };
    const auto read = [this](const wchar_t* name, int kind) {
        wchar_t buffer[32] = {};
        unsigned long size = sizeof(buffer);
        std::wstring text = L"untouched";
        unsigned long number = 0xDEAD;
        unsigned __int64 number64 = 0xDEAD;
        srLib::CMemory memory;
        memory.NewAlloc(300);
        BOOL ok = FALSE;
        std::string value;
        bool touched = false;
        if (kind == 0) {
            ok = m_reg.GetString(name, buffer, size);
            value = Narrow(buffer);
        } else if (kind == 1) {
            ok = m_reg.GetString(name, text);
            value = Narrow(text);
            touched = text != L"untouched";
        } else if (kind < 4) {
            ok = kind == 2 ? m_reg.GetNumber(name, number) : m_reg.GetNumber(name, number64);
            value = std::to_string(kind == 2 ? number : number64);
            touched = (kind == 2 ? number : number64) != 0xDEAD;
        } else {
            ok = m_reg.GetBinary(name, memory);
            for (size_t i = 0; i < memory.GetSize(); ++i)
                value += (i ? " " : "") + std::to_string(static_cast<const BYTE*>(memory.GetData())[i]);
            touched = memory.GetData() != nullptr; // a refused read leaves it empty
        }
        return ok ? value : "#" + std::to_string(m_reg.GetLastError()) + (touched ? " changed" : "");
    };
    for (const auto& [name, expected] : cases) {
        std::vector<std::string> results;
        for (int kind = 0; kind < 5; ++kind)
            results.push_back(read(name, kind));
        EXPECT_EQ(expected, results) << Narrow(name);
    }
}

TEST_F(RegistryTest, StringBufferSizesAndOutOfMemory)
{
    SetString(kKey, L"long", L"a value longer than the string's own small buffer");
    wchar_t buffer[4] = L"abc";
    unsigned long size = sizeof(buffer);
    EXPECT_FALSE(m_reg.GetString(L"long", buffer, size));
    EXPECT_EQ(ERROR_MORE_DATA, m_reg.GetLastError());
    EXPECT_EQ(100u, size) << "the size needed";
    std::wstring text = L"before";
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(m_reg.GetString(L"long", text));
    EXPECT_EQ(ERROR_OUTOFMEMORY, m_reg.GetLastError());
    EXPECT_EQ(L"before", text);
    supporttest::DisarmAllocationFailure();
}

TEST_F(RegistryTest, OwnershipMovesAndClosingKeepsTheLastError)
{
    const HKEY key = m_reg.GetKey();
    CRegistry taker;
    EXPECT_TRUE(taker.Attach(m_reg));
    EXPECT_EQ(nullptr, m_reg.GetKey());
    taker = key;
    EXPECT_TRUE(taker.SetNumber(L"still open", 1)) << "assigning the held key keeps it open";
    CRegistry moved(std::move(taker));
    EXPECT_EQ(nullptr, taker.GetKey());
    EXPECT_EQ(key, moved.Detach());
    EXPECT_EQ(nullptr, moved.GetKey());
    {
        CRegistry owner(key);
        owner = static_cast<HKEY>(nullptr);
        EXPECT_FALSE(owner.Open(kNoSuchRoot, L"Sub", KEY_READ, TRUE));
        EXPECT_EQ(ERROR_INVALID_HANDLE, owner.GetLastError());
        EXPECT_EQ(nullptr, owner.GetKey());
        EXPECT_TRUE(owner.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, FALSE));
        SetLastError(1234);
    }
    EXPECT_EQ(1234u, GetLastError()) << "the destructor keeps the thread's last error";
    DWORD values = 0;
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, nullptr))
        << "the key was closed by the assignment";
}

} // namespace
