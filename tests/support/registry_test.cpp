#include "support/memory.h"
#include "support/registry.h"

#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/support/allocation.h"
#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using namespace testsupport;
using srLib::CRegistry;
using supporttest::CTraceCapture;

namespace {

const wchar_t kKey[] = L"Software\\Korvalin\\SupportTests\\Registry";
const HKEY kNoSuchRoot = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));

std::string Hex(const void* data, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02X" : " %02X", static_cast<const unsigned char*>(data)[i]);
        text += byte;
    }
    return text;
}

std::vector<BYTE> Utf16(const std::wstring& text, size_t bytes)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + bytes);
}

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKey);
        CreateKey(kKey);
        ASSERT_TRUE(m_reg.Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, FALSE));
    }
    void TearDown() override
    {
        m_reg.Close();
        DeleteKeyTree(kKey);
    }

    CRegistry m_reg;
};

// A missing key is normal for many callers: it is traced as information, not as an error.
TEST_F(RegistryTest, OpenTracesOnlyUnexpectedFailuresAsErrors)
{
    const std::wstring missing = std::wstring(kKey) + L"\\Missing";
    CTraceCapture capture;
    CRegistry reg;
    EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, missing.c_str(), KEY_READ, FALSE));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.GetLastError());
    EXPECT_EQ(nullptr, reg.GetKey());
    EXPECT_EQ(0u, capture.Take().find("Information : "));
    EXPECT_FALSE(reg.Open(kNoSuchRoot, L"Sub", KEY_READ, FALSE));
    EXPECT_EQ(ERROR_INVALID_HANDLE, reg.GetLastError());
    EXPECT_EQ(0u, capture.Take().find("Error : "));
    EXPECT_FALSE(reg.Open(kNoSuchRoot, L"Sub", KEY_READ, TRUE));
    EXPECT_EQ(ERROR_INVALID_HANDLE, reg.GetLastError());

    EXPECT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, missing.c_str(), KEY_READ | KEY_WRITE, TRUE));
    EXPECT_EQ(ERROR_SUCCESS, reg.GetLastError());
    EXPECT_TRUE(reg.SetNumber(L"created", 1));
    EXPECT_TRUE(GetRaw(missing.c_str(), L"created").has_value());
}

TEST_F(RegistryTest, TypedReadsCheckTypeAndShape)
{
    const DWORD dword = 7;
    const unsigned __int64 qword = 0x100000002ull;
    const BYTE binary[] = {1, 2, 3};
    SetRaw(kKey, L"sz", REG_SZ, L"text", 10);
    SetRaw(kKey, L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", 18);
    SetRaw(kKey, L"multi", REG_MULTI_SZ, L"a\0b\0", 10);
    SetRaw(kKey, L"zero", REG_SZ, L"", 0);
    SetRaw(kKey, L"odd", REG_SZ, L"ab", 5);
    SetRaw(kKey, L"dword", REG_DWORD, &dword, 4);
    SetRaw(kKey, L"qword", REG_QWORD, &qword, 8);
    SetRaw(kKey, L"binary", REG_BINARY, binary, 3);

    enum Read { eBuffer, eObject, eNumber, eNumber64, eBinary };
    struct Case {
        const wchar_t* name;
        Read read;
        LONG error;
        std::string value; // on success; on failure "changed" if the output was touched
    };
    const std::vector<Case> cases = {
        {L"sz", eBuffer, 0, "text"},
        {L"sz", eObject, 0, "text"},
        {L"sz", eNumber, 13, ""},
        {L"sz", eNumber64, 13, ""},
        {L"sz", eBinary, 13, ""},
        {L"expand", eBuffer, 0, "%TEMP%\\x"},
        {L"expand", eObject, 0, "%TEMP%\\x"},
        {L"multi", eBuffer, 0, "a"},
        {L"multi", eObject, 13, ""},
        {L"zero", eBuffer, 0, ""},
        {L"zero", eObject, 0, ""},
        {L"odd", eBuffer, 13, ""},
        {L"odd", eObject, 13, ""},
        {L"dword", eBuffer, 13, ""},
        {L"dword", eObject, 13, ""},
        {L"dword", eNumber, 0, "7"},
        {L"dword", eNumber64, 13, ""},
        {L"dword", eBinary, 13, ""},
        {L"qword", eNumber, 13, ""},
        {L"qword", eNumber64, 0, "4294967298"},
        {L"binary", eBinary, 0, "01 02 03"},
        {L"binary", eNumber, 13, ""},
        {L"binary", eBuffer, 13, ""},
        {L"missing", eBuffer, 2, ""},
        {L"missing", eObject, 2, ""},
        {L"missing", eNumber, 2, ""},
        {L"missing", eNumber64, 2, ""},
        {L"missing", eBinary, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name) + " read " + std::to_string(c.read));
        std::string value;
        BOOL ok = FALSE;
        if (c.read == eBuffer) {
            wchar_t buffer[32];
            unsigned long size = sizeof(buffer);
            ok = m_reg.GetString(c.name, buffer, size);
            value = ok ? Narrow(buffer) : "";
        } else if (c.read == eObject) {
            std::wstring text = L"untouched";
            ok = m_reg.GetString(c.name, text);
            value = ok ? Narrow(text) : (text == L"untouched" ? "" : "changed");
        } else if (c.read == eNumber) {
            unsigned long number = 0xDEAD;
            ok = m_reg.GetNumber(c.name, number);
            value = ok ? std::to_string(number) : (number == 0xDEAD ? "" : "changed");
        } else if (c.read == eNumber64) {
            unsigned __int64 number = 0xDEAD;
            ok = m_reg.GetNumber(c.name, number);
            value = ok ? std::to_string(number) : (number == 0xDEAD ? "" : "changed");
        } else {
            srLib::CMemory memory;
            memory.NewAlloc(300);
            ok = m_reg.GetBinary(c.name, memory);
            value = ok ? Hex(memory.GetData(), memory.GetSize()) : (memory.GetData() ? "changed" : "");
        }
        EXPECT_EQ(c.error == 0, ok != FALSE);
        EXPECT_EQ(c.error, m_reg.GetLastError());
        EXPECT_EQ(c.value, value);
    }

    long signedNumber = 0;
    EXPECT_TRUE(m_reg.GetNumber(L"dword", signedNumber));
    EXPECT_EQ(7, signedNumber);
}

TEST_F(RegistryTest, StringBufferSizesAndOutOfMemory)
{
    SetString(kKey, L"long", L"a value longer than the string's own small buffer");
    wchar_t buffer[4] = L"abc";
    unsigned long size = sizeof(buffer);
    EXPECT_FALSE(m_reg.GetString(L"long", buffer, size));
    EXPECT_EQ(ERROR_MORE_DATA, m_reg.GetLastError());
    EXPECT_EQ(100u, size) << "the size needed";
    size = 0;
    EXPECT_TRUE(m_reg.GetString(L"long", nullptr, size));
    EXPECT_EQ(100u, size);
    size = 0;
    EXPECT_FALSE(m_reg.GetString(L"long", buffer, size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, m_reg.GetLastError());

    std::vector<BYTE> bytes(300, 0x42);
    SetRaw(kKey, L"large", REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    std::wstring text = L"before";
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(m_reg.GetString(L"long", text));
    EXPECT_EQ(ERROR_OUTOFMEMORY, m_reg.GetLastError());
    EXPECT_EQ(L"before", text);
    srLib::CMemory memory;
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(m_reg.GetBinary(L"large", memory));
    EXPECT_EQ(ERROR_OUTOFMEMORY, m_reg.GetLastError());
    supporttest::DisarmAllocationFailure();
}

TEST_F(RegistryTest, WritesStoreExactBytes)
{
    srLib::CMemory block;
    block.Copy(srLib::CMemory::eNew, "\x10\x20\x30", 3);
    EXPECT_TRUE(m_reg.SetString(L"s", L"text"));
    EXPECT_TRUE(m_reg.SetString(L"e", std::wstring(L"%TEMP%"), REG_EXPAND_SZ));
    EXPECT_TRUE(m_reg.SetString(L"m", std::wstring(L"a\0b", 3), REG_MULTI_SZ));
    EXPECT_TRUE(m_reg.SetNumber(L"i", -2));
    EXPECT_TRUE(m_reg.SetNumber(L"q", 0x0102030405060708ull));
    EXPECT_TRUE(m_reg.SetBinary(L"b", block));
    EXPECT_TRUE(m_reg.SetBinary(L"p", "\x01\x00\x02", 3));
    const std::vector<std::tuple<const wchar_t*, DWORD, std::vector<BYTE>>> stored = {
        {L"s", REG_SZ, Utf16(L"text", 10)},
        {L"e", REG_EXPAND_SZ, Utf16(L"%TEMP%", 14)},
        {L"m", REG_MULTI_SZ, Utf16(L"a", 4)},
        {L"i", REG_DWORD, {0xFE, 0xFF, 0xFF, 0xFF}},
        {L"q", REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}},
        {L"b", REG_BINARY, {0x10, 0x20, 0x30}},
        {L"p", REG_BINARY, {1, 0, 2}},
    };
    for (const auto& [name, type, data] : stored) {
        SCOPED_TRACE(Narrow(name));
        const auto value = GetRaw(kKey, name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(type, value->type);
        EXPECT_EQ(data, value->data);
    }

    unsigned long unused = 0;
    m_reg.GetNumber(L"missing", unused);
    EXPECT_FALSE(m_reg.SetString(L"x", L"text", REG_BINARY));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, m_reg.GetLastError()) << "the refusal leaves the last error";
    EXPECT_FALSE(GetRaw(kKey, L"x").has_value());
    EXPECT_TRUE(m_reg.DeleteValue(L"s"));
    EXPECT_FALSE(m_reg.DeleteValue(L"s"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, m_reg.GetLastError());
}

TEST_F(RegistryTest, EnumerationAndDeletion)
{
    const std::wstring sub = std::wstring(kKey) + L"\\sub";
    for (const wchar_t* name : {L"v0", L"v1", L"v2"})
        SetDword(kKey, name, 1);
    SetDword((sub + L"\\inner").c_str(), L"deep", 1);
    CreateKey((std::wstring(kKey) + L"\\empty").c_str());

    std::set<std::wstring> values;
    std::set<std::wstring> keys;
    wchar_t name[16];
    unsigned long length = 16;
    for (unsigned long i = 0; m_reg.EnumValue(i, name, &length) == ERROR_SUCCESS; ++i, length = 16)
        values.insert(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, m_reg.GetLastError());
    for (unsigned long i = 0; m_reg.EnumKey(i, name, &length) == ERROR_SUCCESS; ++i, length = 16)
        keys.insert(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, m_reg.GetLastError());
    EXPECT_EQ(std::set<std::wstring>({L"v0", L"v1", L"v2"}), values);
    EXPECT_EQ(std::set<std::wstring>({L"sub", L"empty"}), keys);

    EXPECT_FALSE(m_reg.DeleteEmptyKey(L"sub"));
    EXPECT_TRUE(m_reg.DeleteEmptyKey(L"empty"));
    EXPECT_TRUE(m_reg.DeleteKey(L"sub"));
    EXPECT_FALSE(GetRaw((sub + L"\\inner").c_str(), L"deep").has_value());
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, m_reg.EnumKey(0, name, &length));
}

TEST_F(RegistryTest, OwnershipMovesExplicitly)
{
    const HKEY key = m_reg.GetKey();
    CRegistry taker;
    EXPECT_TRUE(taker.Attach(m_reg));
    EXPECT_EQ(nullptr, m_reg.GetKey());
    EXPECT_EQ(key, taker.GetKey());

    taker = key;
    EXPECT_TRUE(taker.SetNumber(L"still open", 1)) << "assigning the held key keeps it open";

    CRegistry moved(std::move(taker));
    EXPECT_EQ(nullptr, taker.GetKey());
    EXPECT_EQ(key, moved.GetKey());
    EXPECT_EQ(key, moved.Detach());
    EXPECT_EQ(nullptr, moved.GetKey());
    DWORD values = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, values) << "a detached key stays open";

    {
        CRegistry owner(key);
        SetLastError(1234);
        owner = static_cast<HKEY>(nullptr);
        EXPECT_EQ(nullptr, owner.GetKey());
        EXPECT_TRUE(owner.Close()) << "nothing held: the last error as it is";
        owner.Attach(kNoSuchRoot);
        EXPECT_FALSE(owner.Close());
        EXPECT_EQ(ERROR_INVALID_HANDLE, owner.GetLastError());
        EXPECT_EQ(nullptr, owner.GetKey());
        EXPECT_TRUE(owner.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, FALSE));
        SetLastError(1234);
    }
    EXPECT_EQ(1234u, GetLastError()) << "the destructor keeps the thread's last error";
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, nullptr))
        << "the key was closed by the assignment";
}

} // namespace
