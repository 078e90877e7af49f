#include "support/memoryimpl.h"
#include "support/objectcount.h"
#include "support/stringimpl.h"

#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

using srKrv::CMemoryImpl;
using srKrv::CStringImpl;

namespace {

// Calls a virtual slot by its number, as a component outside the module does. On x64 a member
// function takes its object like a first argument.
template <class Result, class... Args> Result CallSlot(void* object, int slot, Args... args)
{
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Result (*)(void*, Args...)>(table[slot])(object, args...);
}

TEST(MemoryObject, ReferencesSlotsAndLifetime)
{
    const long before = srKrv::GetObjectCount();
    CMemoryImpl* memory = CMemoryImpl::CreateMemoryImpl();
    ASSERT_NE(nullptr, memory);
    EXPECT_EQ(before + 1, srKrv::GetObjectCount());
    void* queried = nullptr;
    EXPECT_EQ(KRV_S_OK, memory->QueryInterface(sr::IID_IMemory, &queried));
    EXPECT_EQ(static_cast<sr::IMemory*>(memory), queried);
    EXPECT_EQ(1u, memory->Release());
    EXPECT_EQ(KRV_E_NOINTERFACE, memory->QueryInterface(sr::IID_IString, &queried));
    EXPECT_EQ(nullptr, queried);
    EXPECT_EQ(KRV_E_INVALIDARG, memory->QueryInterface(sr::IID_IMemory, nullptr));

    sr::IMemory* object = memory;
    void* data = CallSlot<void*>(object, 3, size_t(300));
    EXPECT_EQ(300u, CallSlot<size_t>(object, 6));
    EXPECT_EQ(data, CallSlot<void*>(object, 7));
    EXPECT_EQ(srLib::CMemory::eNew, memory->GetMemory()->GetType());
    std::memset(data, 0x3C, 300);
    const auto* shrunk = CallSlot<unsigned char*>(object, 4, size_t(20));
    EXPECT_EQ(srLib::CMemory::eInternal, memory->GetMemory()->GetType());
    EXPECT_EQ(std::vector<unsigned char>(20, 0x3C), std::vector<unsigned char>(shrunk, shrunk + 20));
    const std::vector<unsigned char> source(400, 0x77);
    void* copied = CallSlot<void*>(object, 8, static_cast<const void*>(source.data()), source.size());
    EXPECT_EQ(0, std::memcmp(copied, source.data(), source.size()));
    CallSlot<void>(object, 5);
    EXPECT_EQ(nullptr, memory->GetData());

    EXPECT_EQ(2u, CallSlot<unsigned long>(object, 1));
    EXPECT_EQ(1u, memory->Release());
    EXPECT_EQ(before + 1, srKrv::GetObjectCount());
    EXPECT_EQ(0u, CallSlot<unsigned long>(object, 2));
    EXPECT_EQ(before, srKrv::GetObjectCount());
    EXPECT_EQ(static_cast<void*>(memory), supporttest::LastDeleted()) << "destroyed by the last release";
}

TEST(StringObject, TextInEitherWidth)
{
    wchar_t converted[8] = {};
    MultiByteToWideChar(CP_ACP, 0, "\xE9t\xE9", -1, converted, 8);
    char narrowed[8] = {};
    WideCharToMultiByte(CP_ACP, 0, L"\u00E9t\u00E9", -1, narrowed, 8, nullptr, nullptr);
    struct Case {
        bool wide;
        std::string ansi;
        std::wstring unicode;
        long type;
        size_t length;
    };
    const std::vector<Case> cases = {
        {false, "abc", L"abc", 1, 3},
        {true, "wide", L"wide", 2, 4},
        {false, "\xE9t\xE9", converted, 1, 3},
        {true, narrowed, L"\u00E9t\u00E9", 2, 3},
    };
    CStringImpl* string = CStringImpl::CreateStringImpl();
    ASSERT_NE(nullptr, string);
    EXPECT_EQ(0, string->GetStringType());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ansi);
        EXPECT_TRUE(c.wide ? string->SetStringW(c.unicode.c_str()) : string->SetStringA(c.ansi.c_str()));
        EXPECT_TRUE(string->IsModified());
        EXPECT_EQ(c.unicode, string->GetStringW());
        EXPECT_EQ(c.ansi, string->GetStringA());
        EXPECT_EQ(c.type, string->GetStringType()) << "a conversion keeps the type";
        EXPECT_EQ(c.length, string->GetLength()) << "the length of the text as set";
    }
    // A caller may still hold a converted text too long for the small buffer when it asks again.
    const std::string longAnsi(40, 'n');
    const std::wstring longWide(40, L'w');
    string->SetStringA(longAnsi.c_str());
    const wchar_t* heldWide = string->GetStringW();
    EXPECT_EQ(heldWide, string->GetStringW());
    EXPECT_EQ(std::wstring(40, L'n'), heldWide);
    string->SetStringW(longWide.c_str());
    const char* heldAnsi = string->GetStringA();
    EXPECT_EQ(heldAnsi, string->GetStringA());
    EXPECT_EQ(std::string(40, 'w'), heldAnsi);
    string->Clear();
    EXPECT_EQ(0, string->GetStringType());
    EXPECT_EQ(0u, string->GetLength());
    EXPECT_STREQ(L"", string->GetStringW());
    EXPECT_FALSE(string->IsModified());
    EXPECT_TRUE(string->SetStringA(nullptr));
    EXPECT_EQ(1, string->GetStringType());
    string->Release();

    CStringImpl* created = CStringImpl::CreateStringImpl("made");
    EXPECT_STREQ(L"made", created->GetStringW());
    EXPECT_FALSE(created->IsModified());
    created->Release();
}

TEST(StringObject, SlotsReferencesAndLifetime)
{
    const long before = srKrv::GetObjectCount();
    CStringImpl* string = CStringImpl::CreateStringImpl(L"start");
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
    EXPECT_EQ(KRV_E_NOINTERFACE, string->QueryInterface(sr::IID_IMemory, &queried));
    EXPECT_EQ(1u, string->Release());
    EXPECT_EQ(0u, CallSlot<unsigned long>(object, 2));
    EXPECT_EQ(before, srKrv::GetObjectCount());
    EXPECT_EQ(static_cast<void*>(string), supporttest::LastDeleted());
}

TEST(ReferenceCountedObjects, OutOfMemory)
{
    const wchar_t* longText = L"a text too long for the string's own small buffer";
    const long before = srKrv::GetObjectCount();
    supporttest::FailAllocationAfter(0);
    EXPECT_EQ(nullptr, CMemoryImpl::CreateMemoryImpl());
    supporttest::FailAllocationAfter(0);
    EXPECT_EQ(nullptr, CStringImpl::CreateStringImpl(longText));
    EXPECT_EQ(before, srKrv::GetObjectCount());

    CStringImpl* string = CStringImpl::CreateStringImpl("before");
    supporttest::FailAllocationAfter(0);
    EXPECT_FALSE(string->SetStringW(longText));
    EXPECT_EQ(0, string->GetStringType()) << "left cleared";
    supporttest::FailAllocationAfter(0);
    *string = "a narrow text too long for the small buffer";
    EXPECT_EQ(0, string->GetStringType());
    string->SetStringA("a narrow text too long for the small buffer");
    supporttest::FailAllocationAfter(0);
    EXPECT_STREQ(L"", string->GetStringW());
    supporttest::DisarmAllocationFailure();
    string->Release();
}

} // namespace
