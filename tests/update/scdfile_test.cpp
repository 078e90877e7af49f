#include "update/scdfile.h"

#include "support/memoryimpl.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/update/harness.h"

#include <gtest/gtest.h>

#include <cstring>

using clfs::update::CSCDFile;
using namespace testsupport;
using namespace updatetest;

namespace {

using Bytes = std::vector<unsigned char>;

// n letters, and the zero byte a reader adds.
Bytes Letters(size_t n, bool terminated = false)
{
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>('a' + i % 26);
    if (terminated)
        bytes.push_back(0);
    return bytes;
}

// The magic: the GUID {D3F08B52-6C19-4E7A-9B41-E275A0C8D93F} in its structure layout.
Bytes Magic()
{
    GUID guid = {};
    CLSIDFromString(L"{D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}", &guid);
    const auto* raw = reinterpret_cast<const unsigned char*>(&guid);
    return Bytes(raw, raw + sizeof(guid));
}

std::wstring NewFile(const std::wstring& name, const Bytes& bytes)
{
    const std::wstring path = MakeScratchFolder(L"scd-" + name) + L"\\SCD.xml";
    WriteFileBytes(path, bytes);
    return path;
}

struct CRead {
    long hr;
    Bytes content;
};

CRead ReadContent(const std::wstring& path, bool encryptOnClose)
{
    CSCDFile file;
    EXPECT_EQ(0, file.Initialize(path.c_str(), encryptOnClose));
    sr::IMemory* memory = nullptr;
    CRead read{file.GetDecryptedData(memory), {}};
    if (memory) {
        const auto* data = static_cast<const unsigned char*>(memory->GetData());
        read.content.assign(data, data + memory->GetSize());
        memory->Release();
    }
    return read;
}

// An enciphered file of 100 letters built with a known data key, with its stored length changed
// to length unless that is -1.
Bytes Enciphered(long long length = -1)
{
    const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const Bytes content = Letters(100, true);
    std::vector<uint8_t> file;
    EXPECT_TRUE(clfs::update::scd::BuildFile(content.data(), content.size(), key, file));
    const uint32_t stored = static_cast<uint32_t>(length);
    if (length >= 0)
        std::memcpy(file.data() + 32, &stored, sizeof(stored));
    return file;
}

TEST(SCDFile, PlainFileIsEncipheredOnCloseWithItsPaddingAndReadsBack)
{
    const size_t cases[][3] = {{100, 101, 104}, {127, 128, 136}, {1, 2, 8}, {7, 8, 16}, {39, 40, 48}};
    for (const auto& [size, plainLength, bodySize] : cases) {
        SCOPED_TRACE(size);
        const std::wstring path = NewFile(L"padding-" + std::to_wstring(size), Letters(size));
        EXPECT_EQ(Letters(size, true), ReadContent(path, true).content);
        const Bytes stored = ReadFileBytes(path);
        ASSERT_EQ(40 + bodySize, stored.size());
        EXPECT_EQ(Magic(), Bytes(stored.begin(), stored.begin() + 16));
        EXPECT_EQ(Bytes({static_cast<unsigned char>(plainLength), 0, 0, 0, 0, 0, 0, 0}),
                  Bytes(stored.begin() + 32, stored.begin() + 40));
        EXPECT_EQ(Letters(size, true), ReadContent(path, true).content);
        EXPECT_EQ(stored, ReadFileBytes(path)) << "an enciphered file is not enciphered again";
    }
}

TEST(SCDFile, EachEncipheringDrawsAFreshKey)
{
    Bytes stored[2];
    for (int i = 0; i < 2; ++i) {
        const std::wstring path = NewFile(L"fresh-" + std::to_wstring(i), Letters(300));
        {
            CSCDFile file;
            ASSERT_EQ(0, file.Initialize(path.c_str(), false));
            EXPECT_EQ(0, file.Encrypt());
            EXPECT_EQ(0, file.Encrypt());
        }
        stored[i] = ReadFileBytes(path);
        EXPECT_EQ(Letters(300, true), ReadContent(path, false).content);
    }
    ASSERT_EQ(stored[0].size(), stored[1].size());
    EXPECT_NE(Bytes(stored[0].begin() + 16, stored[0].begin() + 32),
              Bytes(stored[1].begin() + 16, stored[1].begin() + 32));
    EXPECT_NE(Bytes(stored[0].begin() + 40, stored[0].end()), Bytes(stored[1].begin() + 40, stored[1].end()));
}

// Forms a reader meets on disk, each opened with encipher-on-close. Enciphered ones, damaged or
// not, stay exactly as they were; so does an empty plain file.
TEST(SCDFile, FormsOnDisk)
{
    const long kCorrupt = static_cast<long>(0x80070570);
    Bytes cutBody = Enciphered();
    cutBody.resize(cutBody.size() - 3);
    Bytes wrongKey = Enciphered();
    wrongKey[20] ^= 0x40;
    Bytes headerOnly = Enciphered();
    headerOnly.resize(40);
    Bytes magicText = Magic();
    const std::string text = "<?xml version=\"1.0\"?><scd>plain text after the magic</scd>";
    magicText.insert(magicText.end(), text.begin(), text.end());
    struct Case {
        const wchar_t* name;
        Bytes bytes;
        long hr;
        Bytes content;
        size_t sizeAfter; // 0: unchanged
    };
    const Case cases[] = {
        {L"known-key", Enciphered(), 0, Letters(100, true), 0},
        {L"long-length", Enciphered(105), kCorrupt, {}, 0},
        {L"cut-body", cutBody, kCorrupt, {}, 0},
        {L"zero-length", Enciphered(0), kCorrupt, {}, 0},
        {L"wrong-key", wrongKey, kCorrupt, {}, 0},
        {L"plain-with-magic", magicText, kCorrupt, {}, 0},
        {L"header-only", headerOnly, static_cast<long>(0x800700E8), {}, 0},
        {L"empty", {}, static_cast<long>(0x800700E8), {}, 0},
        {L"short", Letters(10), 0, Letters(10, true), 56},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        const std::wstring path = NewFile(c.name, c.bytes);
        const CRead read = ReadContent(path, true);
        EXPECT_EQ(c.hr, read.hr);
        EXPECT_EQ(c.content, read.content);
        const Bytes after = ReadFileBytes(path);
        EXPECT_TRUE(c.sizeAfter ? after.size() == c.sizeAfter : after == c.bytes);
    }
}

TEST(SCDFile, ReadOnlyFileIsOpenedAfterItsAttributeIsCleared)
{
    const std::wstring path = NewFile(L"read-only", Letters(50));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Letters(50, true), ReadContent(path, true).content);
    EXPECT_EQ(0u, GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(40u + 56u, ReadFileBytes(path).size());
}

TEST(SCDFile, FailuresLeaveTheCallersBlockAlone)
{
    const std::wstring folder = MakeScratchFolder(L"scd-failures");
    const std::wstring missing = folder + L"\\missing.xml";
    srKrv::CMemoryImpl* held = srKrv::CMemoryImpl::CreateMemoryImpl();
    sr::IMemory* memory = held;
    {
        CSCDFile file;
        EXPECT_EQ(static_cast<long>(0x80070002), file.GetDecryptedData(memory));
        EXPECT_EQ(static_cast<long>(0x80070002), file.Encrypt());
        EXPECT_EQ(E_INVALIDARG, file.Initialize(nullptr, true));
        EXPECT_EQ(E_INVALIDARG, file.Initialize(L"", true));
        EXPECT_EQ(static_cast<long>(0x80070002), file.Initialize(missing.c_str(), true));
        EXPECT_EQ(static_cast<long>(0x80070005), file.Initialize(folder.c_str(), true));
        EXPECT_EQ(held, memory);
    }
    // A successful read releases the block the caller's variable held.
    const std::wstring path = NewFile(L"replace", Letters(20));
    held->AddRef();
    {
        CSCDFile file;
        ASSERT_EQ(0, file.Initialize(path.c_str(), false));
        ASSERT_EQ(0, file.GetDecryptedData(memory));
    }
    EXPECT_EQ(21u, memory->GetSize());
    memory->Release();
    EXPECT_EQ(0u, held->Release());
}

TEST(SCDFile, FileHeldOpenByAnotherProgramIsLeftAlone)
{
    const std::wstring path = NewFile(L"held", Letters(64));
    const HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    {
        CSCDFile file;
        EXPECT_EQ(static_cast<long>(0x80070020), file.Initialize(path.c_str(), true));
    }
    CloseHandle(reader);
    EXPECT_EQ(Letters(64), ReadFileBytes(path));
}

} // namespace
