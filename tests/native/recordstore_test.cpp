#include "framework/recordstore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "oracle.h"

using namespace InstallToolBox;
using oracle::Bytes;

namespace {

// The install options key as the file format defines it, typed independently of the code.
const Bytes kKey = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};

struct Record {
    Bytes head;  // 40 bytes, plain
    Bytes data;  // D bytes, plain

    std::string Name() const
    {
        const char* field = reinterpret_cast<const char*>(head.data());
        return std::string(field, strnlen(field, 32));
    }
    uint32_t Type() const { return oracle::Le32(head.data() + 32); }
    uint32_t Size() const { return oracle::Le32(head.data() + 36); }
};

// A record whose head declares dataSize, carrying data zero-filled up to dataSize; a huge size,
// which only a malformed head declares, is left without the bytes it claims.
Record MakeRecord(const std::string& name, uint32_t type, uint32_t dataSize, const Bytes& data)
{
    Record r{Bytes(40, 0), data};
    std::memcpy(r.head.data(), name.data(), std::min<size_t>(name.size(), 32));
    oracle::PutLe32(r.head.data() + 32, type);
    oracle::PutLe32(r.head.data() + 36, dataSize);
    if (r.data.size() < dataSize && dataSize <= 0x10000)
        r.data.resize(dataSize, 0);
    return r;
}

Record StringRecord(const std::string& name, const std::string& value, uint32_t dataSize)
{
    return MakeRecord(name, 0, dataSize, Bytes(value.begin(), value.end()));
}

Record DwordRecord(const std::string& name, uint32_t value)
{
    Bytes content(4);
    oracle::PutLe32(content.data(), value);
    return MakeRecord(name, 1, 8, content);
}

// A file built from raw records with OpenSSL, in the given order: header, each record
// enciphered as a whole, any trailing bytes, and the enciphered MD5 over header bytes 0-11 and
// everything after the header.
Bytes Encode(uint32_t count, const std::vector<Record>& records, const Bytes& trailing = {})
{
    Bytes file(28, 0);
    oracle::PutLe32(file.data(), 0xFE56524B);
    oracle::PutLe32(file.data() + 4, 1);
    oracle::PutLe32(file.data() + 8, count);
    for (const Record& r : records) {
        Bytes stored = r.head;
        stored.insert(stored.end(), r.data.begin(), r.data.end());
        oracle::Blowfish(kKey, stored.data(), stored.size(), true);
        file.insert(file.end(), stored.begin(), stored.end());
    }
    file.insert(file.end(), trailing.begin(), trailing.end());
    Bytes digested(file.begin(), file.begin() + 12);
    digested.insert(digested.end(), file.begin() + 28, file.end());
    auto digest = oracle::Md5(digested.data(), digested.size());
    oracle::Blowfish(kKey, digest.data(), 16, true);
    std::memcpy(file.data() + 12, digest.data(), 16);
    return file;
}

struct Decoded {
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t count = 0;
    bool digestMatches = false;
    std::vector<Record> records;
    size_t consumed = 0;  // bytes taken by the header and the records
};

// Reads a file with OpenSSL; stops at the count or at the first record that does not fit.
Decoded Decode(const Bytes& file)
{
    Decoded d;
    if (file.size() < 28)
        return d;
    d.magic = oracle::Le32(file.data());
    d.version = oracle::Le32(file.data() + 4);
    d.count = oracle::Le32(file.data() + 8);
    Bytes digested(file.begin(), file.begin() + 12);
    digested.insert(digested.end(), file.begin() + 28, file.end());
    const auto computed = oracle::Md5(digested.data(), digested.size());
    Bytes stored(file.begin() + 12, file.begin() + 28);
    oracle::Blowfish(kKey, stored.data(), 16, false);
    d.digestMatches = std::equal(computed.begin(), computed.end(), stored.begin());

    size_t pos = 28;
    for (uint32_t i = 0; i < d.count && pos + 40 <= file.size(); ++i) {
        Record r{Bytes(file.begin() + pos, file.begin() + pos + 40), {}};
        oracle::Blowfish(kKey, r.head.data(), 40, false);
        if (pos + 40 + r.Size() > file.size())
            break;
        r.data.assign(file.begin() + pos + 40, file.begin() + pos + 40 + r.Size());
        oracle::Blowfish(kKey, r.data.data(), r.data.size(), false);
        d.records.push_back(r);
        pos += 40 + r.Size();
    }
    d.consumed = pos;
    return d;
}

Bytes SaveBytes(const CRecordStore& store)
{
    Bytes file;
    EXPECT_EQ(store.Save(file), RS_SUCCESS);
    return file;
}

class RecordStoreTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(store.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS); }

    std::string GetString(const char* name, const char* defaultValue = nullptr, int expected = RS_SUCCESS)
    {
        char buffer[2100];
        EXPECT_EQ(store.GetString(name, buffer, sizeof(buffer), defaultValue), expected) << name;
        return buffer;
    }

    CRecordStore store;
};

}  // namespace

TEST(RecordStoreKey, FixedKeyAndKeySizes)
{
    EXPECT_EQ(Bytes(g_abInstoptsKey, g_abInstoptsKey + INSTOPTS_KEY_SIZE), kKey);

    CRecordStore store;
    const Bytes longKey(129, 1);
    EXPECT_EQ(store.Init(longKey.data(), 129), RS_KEY_TOO_LONG);
    EXPECT_EQ(store.Init(longKey.data(), 0), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.Init(nullptr, 8), RS_BAD_ARGUMENT);

    // Without a key no cipher can be set up, for a save or for a load past the header.
    Bytes file;
    EXPECT_EQ(store.Save(file), RS_OUT_OF_MEMORY);
    const Bytes valid = Encode(0, {});
    EXPECT_EQ(store.Load(valid.data(), valid.size(), true), RS_OUT_OF_MEMORY);

    EXPECT_EQ(store.Init(longKey.data(), 128), RS_SUCCESS);
    EXPECT_EQ(store.Save(file), RS_SUCCESS);
    EXPECT_EQ(file.size(), 28u);
}

TEST_F(RecordStoreTest, EmptyStoreIsHeaderOnly)
{
    const Bytes file = SaveBytes(store);
    ASSERT_EQ(file.size(), 28u);
    const Bytes start = {0x4B, 0x52, 0x56, 0xFE, 0x01, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 12), start);
    // The digest field is MD5 of those 12 bytes, enciphered as two blocks.
    auto digest = oracle::Md5(start.data(), start.size());
    oracle::Blowfish(kKey, digest.data(), 16, true);
    EXPECT_EQ(Bytes(file.begin() + 12, file.end()), Bytes(digest.begin(), digest.end()));
}

TEST_F(RecordStoreTest, SingleDwordFileLayout)
{
    ASSERT_EQ(store.SetDword("Install", 1), RS_SUCCESS);
    const Bytes file = SaveBytes(store);
    ASSERT_EQ(file.size(), 76u);
    const Decoded d = Decode(file);
    EXPECT_EQ(d.magic, 0xFE56524Bu);
    EXPECT_EQ(d.version, 1u);
    EXPECT_EQ(d.count, 1u);
    EXPECT_TRUE(d.digestMatches);
    ASSERT_EQ(d.records.size(), 1u);
    Bytes head(40, 0);
    std::memcpy(head.data(), "Install", 7);
    head[32] = 1;
    head[36] = 8;
    EXPECT_EQ(d.records[0].head, head);
    EXPECT_EQ(d.records[0].data, Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(d.consumed, file.size());
}

// D = L + 8 - (L mod 8) with L the string length + 1: always at least one zero byte of fill.
TEST_F(RecordStoreTest, StringDataSizes)
{
    const struct {
        size_t length;
        uint32_t dataSize;
    } cases[] = {{0, 8}, {6, 8}, {7, 16}, {8, 16}, {15, 24}, {100, 104}, {2047, 2056}};
    for (const auto& c : cases) {
        CRecordStore one;
        ASSERT_EQ(one.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
        const std::string value(c.length, 'v');
        ASSERT_EQ(one.SetString("S", value.c_str()), RS_SUCCESS) << c.length;
        const Bytes file = SaveBytes(one);
        EXPECT_EQ(file.size(), 28 + 40 + c.dataSize) << c.length;
        const Decoded d = Decode(file);
        ASSERT_EQ(d.records.size(), 1u);
        EXPECT_EQ(d.records[0].Type(), 0u);
        EXPECT_EQ(d.records[0].Size(), c.dataSize);
        Bytes expected(value.begin(), value.end());
        expected.resize(c.dataSize, 0);
        EXPECT_EQ(d.records[0].data, expected) << c.length;
    }
}

TEST_F(RecordStoreTest, NameAndValueLimits)
{
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    EXPECT_EQ(store.SetDword(name31.c_str(), 7), RS_SUCCESS);
    EXPECT_EQ(store.SetDword(name32.c_str(), 7), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetString(name32.c_str(), "x"), RS_BAD_ARGUMENT);
    const std::string value2047(2047, 'v');
    const std::string value2048(2048, 'v');
    EXPECT_EQ(store.SetString("Long", value2047.c_str()), RS_SUCCESS);
    EXPECT_EQ(store.SetString("Longer", value2048.c_str()), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetString(nullptr, "x"), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetString("x", nullptr), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetDword(nullptr, 1), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.GetCount(), 2u);

    const Decoded d = Decode(SaveBytes(store));
    ASSERT_EQ(d.records.size(), 2u);
    EXPECT_EQ(d.records[0].Name(), "Long");
    EXPECT_EQ(d.records[0].Size(), 2056u);
    // A 31-character name fills the field up to its terminator in the last byte.
    EXPECT_EQ(d.records[1].Name(), name31);
    EXPECT_EQ(d.records[1].head[31], 0);
    EXPECT_EQ(GetString("Long"), value2047);
}

TEST_F(RecordStoreTest, SetReplacesAndCounts)
{
    ASSERT_EQ(store.SetDword("A", 1), RS_SUCCESS);
    ASSERT_EQ(store.SetString("B", "bee"), RS_SUCCESS);
    ASSERT_EQ(store.SetDword("A", 2), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 2u);
    ASSERT_EQ(store.SetString("A", "now a string"), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 2u);
    ASSERT_EQ(store.SetString("a", "other case"), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 3u);

    uint32_t value = 0;
    EXPECT_EQ(store.GetDword("A", &value, 99), RS_NOT_FOUND);
    EXPECT_EQ(value, 99u);
    EXPECT_EQ(GetString("A"), "now a string");

    // Newest first on disk; the replaced record is gone, and nothing follows the records.
    const Bytes file = SaveBytes(store);
    const Decoded d = Decode(file);
    EXPECT_EQ(d.consumed, file.size());
    EXPECT_EQ(d.count, 3u);
    ASSERT_EQ(d.records.size(), 3u);
    EXPECT_EQ(d.records[0].Name(), "a");
    EXPECT_EQ(d.records[1].Name(), "A");
    EXPECT_EQ(d.records[1].Type(), 0u);
    EXPECT_EQ(d.records[2].Name(), "B");
}

TEST_F(RecordStoreTest, GetRules)
{
    ASSERT_EQ(store.SetString("S", "hello"), RS_SUCCESS);
    ASSERT_EQ(store.SetDword("D", 0xDEADBEEF), RS_SUCCESS);

    uint32_t value = 0;
    EXPECT_EQ(store.GetDword("D", &value, 5), RS_SUCCESS);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(store.GetDword("S", &value, 5), RS_NOT_FOUND);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(store.GetDword("missing", &value, 6), RS_NOT_FOUND);
    EXPECT_EQ(value, 6u);

    EXPECT_EQ(GetString("D", "def", RS_NOT_FOUND), "def");
    EXPECT_EQ(GetString("missing", nullptr, RS_NOT_FOUND), "");

    char buffer[6];
    EXPECT_EQ(store.GetString("S", buffer, 6, nullptr), RS_SUCCESS);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(store.GetString("S", buffer, 5, nullptr), RS_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(store.GetString("x", buffer, 6, "123456"), RS_BUFFER_TOO_SMALL);
    EXPECT_EQ(store.GetString("x", buffer, 0, nullptr), RS_BUFFER_TOO_SMALL);
    EXPECT_EQ(store.GetString("S", nullptr, 6, nullptr), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.GetDword("D", nullptr, 0), RS_BAD_ARGUMENT);
    // A name the store would refuse to set can never be found.
    const std::string name32(32, 'n');
    EXPECT_EQ(GetString(name32.c_str(), "d", RS_NOT_FOUND), "d");
}

// A file built independently, read by the store; unknown types are kept and written back
// byte for byte; every load and save reverses the record order, so two cycles restore the file.
TEST_F(RecordStoreTest, ReadsForeignFileAndKeepsUnknownRecords)
{
    Record opaque = MakeRecord("Opaque", 7, 16, oracle::FromHex("00112233445566778899AABBCCDDEEFF"));
    opaque.head[20] = 0xEE;  // stray bytes after the name's terminator survive too
    const std::vector<Record> records = {
        StringRecord("Path", "C:\\Temp\\x", 16),
        opaque,
        DwordRecord("Install", 1),
        StringRecord("Empty", "", 8),
    };
    const Bytes file = Encode(4, records);
    ASSERT_EQ(store.Load(file.data(), file.size(), true), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 4u);
    EXPECT_EQ(GetString("Path"), "C:\\Temp\\x");
    EXPECT_EQ(GetString("Empty"), "");
    EXPECT_EQ(GetString("Opaque", "none", RS_NOT_FOUND), "none");
    uint32_t value = 0;
    EXPECT_EQ(store.GetDword("Install", &value, 0), RS_SUCCESS);
    EXPECT_EQ(value, 1u);

    const Bytes once = SaveBytes(store);
    EXPECT_EQ(once.size(), file.size());
    const Decoded d = Decode(once);
    EXPECT_TRUE(d.digestMatches);
    ASSERT_EQ(d.records.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(d.records[i].head, records[3 - i].head) << i;
        EXPECT_EQ(d.records[i].data, records[3 - i].data) << i;
    }

    CRecordStore again;
    ASSERT_EQ(again.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
    ASSERT_EQ(again.Load(once.data(), once.size(), true), RS_SUCCESS);
    EXPECT_EQ(SaveBytes(again), file);
}

TEST_F(RecordStoreTest, ChecksumAndSizeVerification)
{
    ASSERT_EQ(store.SetString("Name", "value"), RS_SUCCESS);
    ASSERT_EQ(store.SetDword("Flag", 3), RS_SUCCESS);
    const Bytes good = SaveBytes(store);

    CRecordStore other;
    ASSERT_EQ(other.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
    ASSERT_EQ(other.SetString("Keep", "me"), RS_SUCCESS);
    for (size_t offset = 12; offset < good.size(); ++offset) {
        Bytes bad = good;
        bad[offset] ^= 0x01;
        ASSERT_EQ(other.Load(bad.data(), bad.size(), true), RS_BAD_CHECKSUM) << offset;
    }
    // The failed loads left the previous content alone.
    EXPECT_EQ(other.GetCount(), 1u);
    char buffer[8];
    EXPECT_EQ(other.GetString("Keep", buffer, sizeof(buffer), nullptr), RS_SUCCESS);

    // Without verification an altered digest goes unnoticed.
    Bytes digestAltered = good;
    digestAltered[20] ^= 0x80;
    EXPECT_EQ(other.Load(digestAltered.data(), digestAltered.size(), false), RS_SUCCESS);
    EXPECT_EQ(other.GetCount(), 2u);

    // Trailing bytes are covered by the digest: with a matching digest the size limit decides.
    const std::vector<Record> one = {DwordRecord("X", 1)};
    const size_t used = 28 + 48;
    const Bytes atLimit = Encode(1, one, Bytes(262144 - used, 0xA5));
    ASSERT_EQ(atLimit.size(), 262144u);
    EXPECT_EQ(other.Load(atLimit.data(), atLimit.size(), true), RS_SUCCESS);
    const Bytes overLimit = Encode(1, one, Bytes(262145 - used, 0xA5));
    EXPECT_EQ(other.Load(overLimit.data(), overLimit.size(), true), RS_BAD_CHECKSUM);
    EXPECT_EQ(other.Load(overLimit.data(), overLimit.size(), false), RS_SUCCESS);
}

TEST_F(RecordStoreTest, HeaderFaults)
{
    ASSERT_EQ(store.SetString("Keep", "me"), RS_SUCCESS);
    const Bytes good = Encode(0, {});
    for (bool verify : {true, false}) {
        EXPECT_EQ(store.Load(good.data(), 27, verify), RS_BAD_FORMAT);
        EXPECT_EQ(store.Load(good.data(), 0, verify), RS_BAD_FORMAT);
        Bytes badMagic = good;
        badMagic[3] = 0xFF;
        EXPECT_EQ(store.Load(badMagic.data(), badMagic.size(), verify), RS_BAD_FORMAT);
    }
    EXPECT_EQ(store.GetCount(), 1u);
    EXPECT_EQ(GetString("Keep"), "me");
    // The version field is not checked.
    Bytes version2 = good;
    version2[4] = 2;
    EXPECT_EQ(store.Load(version2.data(), version2.size(), false), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 0u);
}

// Malformed records in files whose digest is right: the load stops with 5, the records read
// before stay, and the count is the header's.
TEST_F(RecordStoreTest, MalformedRecords)
{
    const Record first = DwordRecord("First", 11);
    const struct {
        const char* what;
        Record bad;
    } cases[] = {
        {"D not whole blocks", MakeRecord("Bad", 9, 12, Bytes(12, 1))},
        {"D beyond the longest content", MakeRecord("Bad", 9, 2064, Bytes(2064, 1))},
        {"D of 4 GiB - 8", MakeRecord("Bad", 9, 0xFFFFFFF8, {})},
        {"string without terminator", MakeRecord("Bad", 0, 8, Bytes(8, 'x'))},
        {"32-bit value without data", MakeRecord("Bad", 1, 0, {})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The bad record goes in as trailing bytes of the encoder, so the digest matches.
        Bytes stored = c.bad.head;
        stored.insert(stored.end(), c.bad.data.begin(), c.bad.data.end());
        stored.resize(stored.size() + (8 - stored.size() % 8) % 8, 0);
        oracle::Blowfish(kKey, stored.data(), stored.size(), true);
        const Bytes file = Encode(2, {first}, stored);
        for (bool verify : {true, false}) {
            CRecordStore s;
            ASSERT_EQ(s.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
            EXPECT_EQ(s.Load(file.data(), file.size(), verify), RS_BAD_FORMAT);
            EXPECT_EQ(s.GetCount(), 2u);
            uint32_t value = 0;
            EXPECT_EQ(s.GetDword("First", &value, 0), RS_SUCCESS);
            EXPECT_EQ(value, 11u);
            EXPECT_EQ(s.GetDword("Bad", &value, 0), RS_NOT_FOUND);
        }
    }

    // A count larger than the records present, and the largest count there is.
    for (uint32_t count : {3u, 0xFFFFFFFFu}) {
        const Bytes file = Encode(count, {first, StringRecord("Second", "2", 8)});
        CRecordStore s;
        ASSERT_EQ(s.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
        EXPECT_EQ(s.Load(file.data(), file.size(), true), RS_BAD_FORMAT);
        EXPECT_EQ(s.GetCount(), count);
        char buffer[4];
        EXPECT_EQ(s.GetString("Second", buffer, sizeof(buffer), nullptr), RS_SUCCESS);
    }

    // A record cut short in its data.
    Bytes cut = Encode(1, {StringRecord("Cut", "abc", 16)});
    cut.resize(cut.size() - 8);
    CRecordStore s;
    ASSERT_EQ(s.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
    EXPECT_EQ(s.Load(cut.data(), cut.size(), false), RS_BAD_FORMAT);
}

namespace {

// Records every call; fails the call with the given number (from 1), if any.
class CRecordingSink final : public IRecordSink
{
public:
    explicit CRecordingSink(int failAt = 0) : m_failAt(failAt) {}

    bool WriteAt(uint64_t offset, const void* data, size_t size) noexcept override
    {
        calls.push_back("write " + std::to_string(offset) + " " + std::to_string(size));
        if (Fails())
            return false;
        if (file.size() < offset + size)
            file.resize(size_t(offset + size));
        std::memcpy(file.data() + offset, data, size);
        return true;
    }

    bool SetEnd(uint64_t size) noexcept override
    {
        calls.push_back("end " + std::to_string(size));
        if (Fails())
            return false;
        file.resize(size_t(size));
        return true;
    }

    std::vector<std::string> calls;
    Bytes file;

private:
    bool Fails() { return int(calls.size()) == m_failAt; }
    int m_failAt;
};

// Hands out a file in pieces and reports reads past its end, as a file would.
class CStreamSource final : public IRecordSource
{
public:
    explicit CStreamSource(const Bytes& data) : m_data(data) {}
    uint64_t GetSize() noexcept override { return m_data.size(); }
    bool Read(void* buffer, size_t size) noexcept override
    {
        if (size > m_data.size() - m_pos)
            return false;
        std::memcpy(buffer, m_data.data() + m_pos, size);
        m_pos += size;
        return true;
    }

private:
    const Bytes& m_data;
    size_t m_pos = 0;
};

}  // namespace

TEST_F(RecordStoreTest, SaveWritesHeaderLastAndReportsWriteFailures)
{
    ASSERT_EQ(store.SetDword("One", 1), RS_SUCCESS);
    ASSERT_EQ(store.SetString("Two", "2"), RS_SUCCESS);

    CRecordingSink sink;
    ASSERT_EQ(store.Save(sink), RS_SUCCESS);
    const std::vector<std::string> expected = {"write 28 48", "write 76 48", "end 124", "write 0 28"};
    EXPECT_EQ(sink.calls, expected);
    EXPECT_EQ(sink.file, SaveBytes(store));

    for (int failAt = 1; failAt <= 4; ++failAt) {
        CRecordingSink failing(failAt);
        EXPECT_EQ(store.Save(failing), RS_WRITE_FAILED) << failAt;
        EXPECT_EQ(failing.calls.size(), size_t(failAt));
    }

    CStreamSource source(sink.file);
    CRecordStore loaded;
    ASSERT_EQ(loaded.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
    EXPECT_EQ(loaded.Load(source, true), RS_SUCCESS);
    EXPECT_EQ(loaded.GetCount(), 2u);
}

// Randomised damage to valid files: whatever the status, the store stays usable and saves.
TEST_F(RecordStoreTest, RandomDamageNeverBreaksTheStore)
{
    std::mt19937 rng(15);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(store.SetString(("k" + std::to_string(i)).c_str(), std::string(rng() % 300, 'x').c_str()), RS_SUCCESS);
    const Bytes good = SaveBytes(store);
    for (int round = 0; round < 2000; ++round) {
        Bytes bad = good;
        const int flips = 1 + int(rng() % 4);
        for (int f = 0; f < flips; ++f)
            bad[rng() % bad.size()] = uint8_t(rng());
        bad.resize(rng() % 2 ? bad.size() : rng() % bad.size());
        CRecordStore s;
        ASSERT_EQ(s.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
        const int status = s.Load(bad.data(), bad.size(), false);
        EXPECT_TRUE(status == RS_SUCCESS || status == RS_BAD_FORMAT) << status;
        char buffer[64];
        s.GetString("k1", buffer, sizeof(buffer), "d");
        Bytes saved;
        EXPECT_EQ(s.Save(saved), RS_SUCCESS);
    }
}

// The views show each record's head fields and data as the file holds them, newest first.
TEST_F(RecordStoreTest, GetRecordsListsEveryRecordNewestFirst)
{
    std::vector<CRecordStore::SRecordView> views = {{nullptr, 0, 0, nullptr}};
    ASSERT_TRUE(store.GetRecords(views));
    EXPECT_TRUE(views.empty());

    Record unterminated = MakeRecord(std::string(32, 'N'), 1, 8, {5, 0, 0, 0});
    const std::vector<Record> records = {
        StringRecord("Path", "C:\\Temp\\x", 16),
        MakeRecord("Opaque", 7, 16, oracle::FromHex("00112233445566778899AABBCCDDEEFF")),
        DwordRecord("Install", 1),
        unterminated,
    };
    const Bytes file = Encode(4, records);
    ASSERT_EQ(store.Load(file.data(), file.size(), true), RS_SUCCESS);
    ASSERT_TRUE(store.GetRecords(views));
    ASSERT_EQ(views.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const Record& expected = records[3 - i];
        SCOPED_TRACE(i);
        EXPECT_EQ(Bytes(views[i].pbName, views[i].pbName + 32), Bytes(expected.head.begin(), expected.head.begin() + 32));
        EXPECT_EQ(views[i].dwType, expected.Type());
        EXPECT_EQ(views[i].cbData, expected.Size());
        EXPECT_EQ(Bytes(views[i].pbData, views[i].pbData + views[i].cbData), expected.data);
    }

    // A set puts its record first and a replaced record disappears.
    ASSERT_EQ(store.SetString("Install", "yes"), RS_SUCCESS);
    ASSERT_TRUE(store.GetRecords(views));
    ASSERT_EQ(views.size(), 4u);
    EXPECT_STREQ(reinterpret_cast<const char*>(views[0].pbName), "Install");
    EXPECT_EQ(views[0].dwType, uint32_t(RECORD_TYPE_STRING));
    EXPECT_STREQ(reinterpret_cast<const char*>(views[0].pbData), "yes");
    EXPECT_STREQ(reinterpret_cast<const char*>(views[3].pbName), "Path");

    // A load that stops at a damaged record leaves the records before it, fewer than the count.
    Bytes damaged = Encode(3, {DwordRecord("First", 11), StringRecord("Second", "2", 8)});
    ASSERT_EQ(store.Load(damaged.data(), damaged.size(), true), RS_BAD_FORMAT);
    ASSERT_TRUE(store.GetRecords(views));
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(store.GetCount(), 3u);
    EXPECT_STREQ(reinterpret_cast<const char*>(views[0].pbName), "Second");
    EXPECT_STREQ(reinterpret_cast<const char*>(views[1].pbName), "First");
}
