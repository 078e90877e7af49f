#include "update/scdfile.h"

#include "support/memoryimpl.h"
#include "tests/common/files.h"
#include "tests/common/process.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>

using clfs::update::CSCDFile;
using namespace testsupport;

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

// The result of reading the file, and the content read.
std::pair<long, Bytes> ReadContent(const std::wstring& path, bool encryptOnClose)
{
    CSCDFile file;
    EXPECT_EQ(0, file.Initialize(path.c_str(), encryptOnClose));
    sr::IMemory* memory = nullptr;
    const long hr = file.GetDecryptedData(memory);
    if (!memory)
        return {hr, {}};
    const auto* data = static_cast<const unsigned char*>(memory->GetData());
    Bytes content(data, data + memory->GetSize());
    memory->Release();
    return {hr, content};
}

// Magic, data key, plain length as 8 bytes, then the body padded to whole blocks (a full block
// when the length is one already); a second reading leaves an enciphered file as it is, and so
// does a reading that finds it damaged.
TEST(SCDFile, PlainFileIsEncipheredOnCloseWithItsPaddingAndReadsBack)
{
    const size_t cases[][3] = {{100, 101, 104}, {127, 128, 136}, {1, 2, 8}, {7, 8, 16}, {39, 40, 48}};
    for (const auto& [size, plainLength, bodySize] : cases) {
        const std::wstring path = NewFile(L"padding-" + std::to_wstring(size), Letters(size));
        EXPECT_EQ(Letters(size, true), ReadContent(path, true).second);
        const Bytes stored = ReadFileBytes(path);
        ASSERT_EQ(40 + bodySize, stored.size()) << size;
        EXPECT_EQ(Magic(), Bytes(stored.begin(), stored.begin() + 16));
        EXPECT_EQ(Bytes({static_cast<unsigned char>(plainLength), 0, 0, 0, 0, 0, 0, 0}),
                  Bytes(stored.begin() + 32, stored.begin() + 40));
        EXPECT_EQ(Letters(size, true), ReadContent(path, true).second);
        EXPECT_EQ(stored, ReadFileBytes(path)) << "an enciphered file is not enciphered again";
        // A stored length beyond the content is corrupt; the file is kept as it is.
        Bytes damaged = stored;
        damaged[32] = static_cast<unsigned char>(plainLength + 9);
        WriteFileBytes(path, damaged);
        EXPECT_EQ(static_cast<long>(0x80070570), ReadContent(path, true).first);
        EXPECT_EQ(damaged, ReadFileBytes(path));
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
        EXPECT_EQ(Letters(300, true), ReadContent(path, false).second);
    }
    EXPECT_NE(Bytes(stored[0].begin() + 16, stored[0].begin() + 32),
              Bytes(stored[1].begin() + 16, stored[1].begin() + 32));
    EXPECT_NE(Bytes(stored[0].begin() + 40, stored[0].end()), Bytes(stored[1].begin() + 40, stored[1].end()));
}

TEST(SCDFile, FailuresLeaveTheCallersBlockAlone)
{
    const std::wstring folder = MakeScratchFolder(L"scd-failures");
    srKrv::CMemoryImpl* held = srKrv::CMemoryImpl::CreateMemoryImpl();
    sr::IMemory* memory = held;
    {
        CSCDFile file;
        EXPECT_EQ(static_cast<long>(0x80070002), file.GetDecryptedData(memory));
        EXPECT_EQ(static_cast<long>(0x80070002), file.Encrypt());
        EXPECT_EQ(E_INVALIDARG, file.Initialize(nullptr, true));
        EXPECT_EQ(E_INVALIDARG, file.Initialize(L"", true));
        EXPECT_EQ(static_cast<long>(0x80070002), file.Initialize((folder + L"\\missing.xml").c_str(), true));
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

} // namespace
