#include "support/memoryimpl.h"
#include "support/objectcount.h"
#include "support/stringimpl.h"

#include "tests/support/allocation.h"
#include "tests/support/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

using srKrv::CMemoryImpl;
using srKrv::CStringImpl;
using supporttest::CTraceCapture;

namespace {

// Calls a virtual slot by its number, as a component outside the module does. On x64 a member
// function takes its object like a first argument.
template <class Result, class... Args>
Result CallSlot(void* object, int slot, Args... args)
{
    using Function = Result (*)(void*, Args...);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Function>(table[slot])(object, args...);
}

const std::string kBadAlloc = std::string("CCCATCH : std::bad_alloc, ") + std::bad_alloc().what() + "\n";

std::wstring AnsiToWide(const std::string& text)
{
    wchar_t wide[64] = {};
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 64);
    return wide;
}

std::string WideToAnsi(const std::wstring& text)
{
    char narrow[64] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, 64, nullptr, nullptr);
    return narrow;
}

TEST(MemoryObject, ReferencesAndSlots)
{
    const long before = srKrv::GetObjectCount();
    CMemoryImpl* memory = CMemoryImpl::CreateMemoryImpl();
    ASSERT_NE(nullptr, memory);
    EXPECT_EQ(before + 1, srKrv::GetObjectCount());
    EXPECT_EQ(2u, memory->AddRef());

    void* queried = nullptr;
    EXPECT_EQ(KRV_S_OK, memory->QueryInterface(sr::IID_IMemory, &queried));
    EXPECT_EQ(static_cast<sr::IMemory*>(memory), queried);
    EXPECT_EQ(2u, memory->Release());
    EXPECT_EQ(KRV_E_NOINTERFACE, memory->QueryInterface(sr::IID_IString, &queried));
    EXPECT_EQ(nullptr, queried);
    EXPECT_EQ(KRV_E_INVALIDARG, memory->QueryInterface(sr::IID_IMemory, nullptr));

    sr::IMemory* object = memory;
    void* data = CallSlot<void*>(object, 3, size_t(300));
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(300u, CallSlot<size_t>(object, 6));
    EXPECT_EQ(data, CallSlot<void*>(object, 7));
    EXPECT_EQ(srLib::CMemory::eNew, memory->GetMemory()->GetType());
    std::memset(data, 0x3C, 300);
    void* shrunk = CallSlot<void*>(object, 4, size_t(20));
    EXPECT_EQ(srLib::CMemory::eInternal, memory->GetMemory()->GetType());
    EXPECT_EQ(std::vector<unsigned char>(20, 0x3C),
              std::vector<unsigned char>(static_cast<unsigned char*>(shrunk), static_cast<unsigned char*>(shrunk) + 20));
    const std::vector<unsigned char> source(400, 0x77);
    void* copied = CallSlot<void*>(object, 8, static_cast<const void*>(source.data()), source.size());
    EXPECT_EQ(srLib::CMemory::eNew, memory->GetMemory()->GetType());
    EXPECT_EQ(0, std::memcmp(copied, source.data(), source.size()));
    CallSlot<void>(object, 5);
    EXPECT_EQ(0u, memory->GetSize());
    EXPECT_EQ(nullptr, memory->GetData());

    EXPECT_EQ(1u, memory->Release());
    EXPECT_EQ(before + 1, srKrv::GetObjectCount());
    EXPECT_EQ(0u, CallSlot<unsigned long>(object, 2));
    EXPECT_EQ(before, srKrv::GetObjectCount());
    EXPECT_EQ(static_cast<void*>(memory), supporttest::LastDeleted()) << "destroyed by the last release";
}

TEST(MemoryObject, Failures)
{
    CTraceCapture capture;
    const long before = srKrv::GetObjectCount();
    supporttest::FailAllocationAfter(0);
    EXPECT_EQ(nullptr, CMemoryImpl::CreateMemoryImpl());
    supporttest::DisarmAllocationFailure();
    EXPECT_EQ(before, srKrv::GetObjectCount());
    EXPECT_EQ("Error : class srKrv::CMemoryImpl *__cdecl srKrv::CMemoryImpl::CreateMemoryImpl(void) throw() : "
                  + kBadAlloc,
              capture.Take());

    CMemoryImpl* memory = CMemoryImpl::CreateMemoryImpl();
    void* data = memory->NewAlloc(10);
    EXPECT_EQ(data, memory->SetMemory(nullptr, 4));
    EXPECT_EQ("Error : int __thiscall srLib::CMemory::Copy(enum srLib::CMemory::AllocType,const void *,__w64 unsigned "
              "long) throw() : pData == NULL\nError : CMemoryImpl::SetMemory() : m_Memory.Copy() == FALSE\n",
              capture.Take());
    memory->Release();
}

TEST(StringObject, TextInEitherWidth)
{
    struct Case {
        const char* what;
        bool wide;
        std::string ansi;
        std::wstring unicode;
        long type;
        size_t length;
    };
    const std::wstring accented = L"\u00E9t\u00E9";
    const std::vector<Case> cases = {
        {"8-bit", false, "abc", L"abc", 1, 3},
        {"wide", true, "wide", L"wide", 2, 4},
        {"8-bit, beyond ASCII", false, "\xE9t\xE9", AnsiToWide("\xE9t\xE9"), 1, 3},
        {"wide, beyond ASCII", true, WideToAnsi(accented), accented, 2, 3},
    };
    CStringImpl* string = CStringImpl::CreateStringImpl();
    ASSERT_NE(nullptr, string);
    EXPECT_EQ(0, string->GetStringType());
    EXPECT_FALSE(string->IsModified());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(c.wide ? string->SetStringW(c.unicode.c_str()) : string->SetStringA(c.ansi.c_str()));
        EXPECT_TRUE(string->IsModified());
        EXPECT_EQ(c.unicode, string->GetStringW());
        EXPECT_EQ(c.ansi, string->GetStringA());
        EXPECT_EQ(c.type, string->GetStringType()) << "a conversion keeps the type";
        EXPECT_EQ(c.length, string->GetLength()) << "the length of the text as set";
    }
    string->Clear();
    EXPECT_EQ(0, string->GetStringType());
    EXPECT_EQ(0u, string->GetLength());
    EXPECT_STREQ(L"", string->GetStringW());
    EXPECT_STREQ("", string->GetStringA());
    EXPECT_FALSE(string->IsModified());

    *string = L"assigned";
    EXPECT_EQ(2, string->GetStringType());
    EXPECT_TRUE(string->SetStringA(nullptr));
    EXPECT_EQ(1, string->GetStringType());
    EXPECT_EQ(0u, string->GetLength());
    string->Release();

    CStringImpl* created = CStringImpl::CreateStringImpl("made");
    EXPECT_EQ(1, created->GetStringType());
    EXPECT_STREQ(L"made", created->GetStringW());
    EXPECT_FALSE(created->IsModified());
    created->Release();
}

TEST(StringObject, SlotsReferencesAndLifetime)
{
    const long before = srKrv::GetObjectCount();
    CStringImpl* string = CStringImpl::CreateStringImpl(L"start");
    ASSERT_NE(nullptr, string);
    EXPECT_EQ(before + 1, srKrv::GetObjectCount());
    sr::IString* object = string;

    EXPECT_TRUE(CallSlot<bool>(object, 8, L"slot eight"));
    EXPECT_EQ(2, CallSlot<long>(object, 4));
    EXPECT_STREQ(L"slot eight", CallSlot<const wchar_t*>(object, 10));
    EXPECT_TRUE(CallSlot<bool>(object, 9, "slot nine"));
    EXPECT_EQ(1, CallSlot<long>(object, 4));
    EXPECT_EQ(9u, CallSlot<size_t>(object, 5));
    EXPECT_STREQ("slot nine", CallSlot<const char*>(object, 6));
    EXPECT_TRUE(CallSlot<bool>(object, 7, "seven"));
    EXPECT_STREQ(L"seven", string->GetStringW());
    EXPECT_TRUE(CallSlot<bool>(object, 11, L"eleven"));
    EXPECT_EQ(2, string->GetStringType());
    CallSlot<void>(object, 3);
    EXPECT_EQ(0, string->GetStringType());

    void* queried = nullptr;
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(object, 0, &sr::IID_IString, &queried));
    EXPECT_EQ(static_cast<void*>(object), queried);
    EXPECT_EQ(3u, CallSlot<unsigned long>(object, 1));
    EXPECT_EQ(KRV_E_NOINTERFACE, string->QueryInterface(sr::IID_IMemory, &queried));
    EXPECT_EQ(2u, string->Release());
    EXPECT_EQ(1u, string->Release());
    EXPECT_EQ(before + 1, srKrv::GetObjectCount());
    EXPECT_EQ(0u, CallSlot<unsigned long>(object, 2));
    EXPECT_EQ(before, srKrv::GetObjectCount());
    EXPECT_EQ(static_cast<void*>(string), supporttest::LastDeleted());
}

TEST(StringObject, OutOfMemory)
{
    const std::wstring longText = L"a text too long for the string's own small buffer";
    const std::string prefix = "Error : ";
    CTraceCapture capture;

    supporttest::FailAllocationAfter(0);
    EXPECT_EQ(nullptr, CStringImpl::CreateStringImpl(longText.c_str()));
    EXPECT_EQ(prefix + "class srKrv::CStringImpl *__cdecl srKrv::CStringImpl::CreateStringImpl(const wchar_t *) "
                       "throw() : " + kBadAlloc,
              capture.Take());

    CStringImpl* string = CStringImpl::CreateStringImpl("before");
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(string->SetStringW(longText.c_str()));
    EXPECT_EQ(0, string->GetStringType()) << "left cleared";
    EXPECT_EQ(0u, string->GetLength());
    EXPECT_EQ(prefix + "bool __thiscall srKrv::CStringImpl::SetStringW(const wchar_t *) throw() : "
                       "CStringConvert::Copy() == false\n",
              capture.Take());

    supporttest::FailAllocationAfter(0);
    *string = "a narrow text too long for the small buffer";
    EXPECT_EQ(prefix + "class srKrv::CStringImpl &__thiscall srKrv::CStringImpl::operator =(const char *) throw() : "
                       "CStringConvert::Copy() == false\n",
              capture.Take());

    string->SetStringA("a narrow text too long for the small buffer");
    supporttest::FailAllocationAfter(0);
    EXPECT_STREQ(L"", string->GetStringW());
    EXPECT_EQ(prefix + "const wchar_t *__thiscall srKrv::CStringImpl::GetStringW(void) throw() const : "
                       "CStringConvert::Copy() == false\n",
              capture.Take());
    supporttest::DisarmAllocationFailure();
    EXPECT_EQ(1, string->GetStringType());
    string->Release();
}

} // namespace
