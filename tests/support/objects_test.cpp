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

// Calls a virtual slot by its number, as a component outside the module does: on 32-bit Windows a
// member function takes its object in ECX (thiscall), on x64 like a first argument.
#if defined(__i386__)
template <class Result, class... Args> using Slot = Result(__thiscall*)(void*, Args...);
#else
template <class Result, class... Args> using Slot = Result (*)(void*, Args...);
#endif

template <class Result, class... Args> Result CallSlot(void* object, int slot, Args... args)
{
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Slot<Result, Args...>>(table[slot])(object, args...);
}

TEST(MemoryObject, SlotsReferencesAndLifetime)
{
    const long before = srKrv::GetObjectCount();
    CMemoryImpl* memory = CMemoryImpl::CreateMemoryImpl();
    ASSERT_NE(nullptr, memory);
    void* queried = nullptr;
    EXPECT_EQ(KRV_S_OK, memory->QueryInterface(sr::IID_IMemory, &queried));
    EXPECT_EQ(static_cast<sr::IMemory*>(memory), queried);
    EXPECT_EQ(KRV_E_NOINTERFACE, memory->QueryInterface(sr::IID_IString, &queried));
    EXPECT_EQ(1u, memory->Release());

    sr::IMemory* object = memory;
    void* data = CallSlot<void*>(object, 3, size_t(300));
    EXPECT_EQ(300u, CallSlot<size_t>(object, 6));
    EXPECT_EQ(data, CallSlot<void*>(object, 7));
    std::memset(data, 0x3C, 300);
    const auto* shrunk = CallSlot<unsigned char*>(object, 4, size_t(20));
    EXPECT_EQ(std::vector<unsigned char>(20, 0x3C), std::vector<unsigned char>(shrunk, shrunk + 20));
    const std::vector<unsigned char> source(400, 0x77);
    void* copied = CallSlot<void*>(object, 8, static_cast<const void*>(source.data()), source.size());
    EXPECT_EQ(0, std::memcmp(copied, source.data(), source.size()));
    CallSlot<void>(object, 5);
    EXPECT_EQ(nullptr, memory->GetData());
    EXPECT_EQ(2u, CallSlot<unsigned long>(object, 1));
    EXPECT_EQ(1u, memory->Release());
    EXPECT_EQ(0u, CallSlot<unsigned long>(object, 2));
    EXPECT_EQ(before, srKrv::GetObjectCount()) << "destroyed by the last release";
}

TEST(StringObject, TextInEitherWidthThroughTheSlots)
{
    const long before = srKrv::GetObjectCount();
    CStringImpl* string = CStringImpl::CreateStringImpl(L"start");
    sr::IString* object = string;
    EXPECT_TRUE(CallSlot<bool>(object, 8, L"slot eight"));
    EXPECT_EQ(2, CallSlot<long>(object, 4));
    EXPECT_STREQ("slot eight", string->GetStringA());
    EXPECT_EQ(2, string->GetStringType()) << "a conversion keeps the type";
    EXPECT_STREQ(L"slot eight", CallSlot<const wchar_t*>(object, 10));
    EXPECT_TRUE(CallSlot<bool>(object, 9, "\xE9t\xE9"));
    EXPECT_EQ(1, CallSlot<long>(object, 4));
    EXPECT_EQ(3u, CallSlot<size_t>(object, 5));
    wchar_t converted[8] = {};
    MultiByteToWideChar(CP_ACP, 0, "\xE9t\xE9", -1, converted, 8);
    EXPECT_STREQ(converted, string->GetStringW());
    EXPECT_STREQ("\xE9t\xE9", CallSlot<const char*>(object, 6));
    EXPECT_TRUE(CallSlot<bool>(object, 11, L"eleven"));
    EXPECT_EQ(2, string->GetStringType());

    // A caller may still hold a converted text too long for the small buffer when it asks again.
    string->SetStringA(std::string(40, 'n').c_str());
    const wchar_t* heldWide = string->GetStringW();
    EXPECT_EQ(heldWide, string->GetStringW());
    EXPECT_EQ(std::wstring(40, L'n'), heldWide);
    string->SetStringW(std::wstring(40, L'w').c_str());
    const char* heldAnsi = string->GetStringA();
    EXPECT_EQ(heldAnsi, string->GetStringA());
    EXPECT_EQ(std::string(40, 'w'), heldAnsi);
    CallSlot<void>(object, 3);
    EXPECT_EQ(0, string->GetStringType());
    EXPECT_EQ(0u, string->GetLength());

    void* queried = nullptr;
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(object, 0, &sr::IID_IString, &queried));
    EXPECT_EQ(static_cast<void*>(object), queried);
    EXPECT_EQ(KRV_E_NOINTERFACE, string->QueryInterface(sr::IID_IMemory, &queried));
    EXPECT_EQ(1u, string->Release());
    EXPECT_EQ(0u, CallSlot<unsigned long>(object, 2));
    EXPECT_EQ(before, srKrv::GetObjectCount());
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
    string->SetStringA("a narrow text too long for the small buffer");
    supporttest::FailAllocationAfter(0);
    EXPECT_STREQ(L"", string->GetStringW());
    supporttest::DisarmAllocationFailure();
    string->Release();
}

} // namespace
