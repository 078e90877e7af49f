#include "framework/recordstore.h"

#include <gtest/gtest.h>

#include "oracle.h"

using namespace InstallToolBox;
using namespace oracle;

namespace {

Bytes Saved(const CRecordStore& store)
{
    Bytes file;
    EXPECT_EQ(store.Save(file), RS_SUCCESS);
    return file;
}

class RecordStoreTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(store.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS); }

    std::string GetString(const char* name, int expected = RS_SUCCESS, const char* defaultValue = nullptr)
    {
        char buffer[2100];
        EXPECT_EQ(store.GetString(name, buffer, sizeof(buffer), defaultValue), expected) << name;
        return buffer;
    }

    CRecordStore store;
};

} // namespace

TEST(RecordStoreKey, FixedKeyAndKeySizes)
{
    EXPECT_EQ(Bytes(g_abInstoptsKey, g_abInstoptsKey + INSTOPTS_KEY_SIZE), kRecordKey);

    CRecordStore store;
    const Bytes longKey(129, 1);
    EXPECT_EQ(store.Init(longKey.data(), 129), RS_KEY_TOO_LONG);
    EXPECT_EQ(store.Init(longKey.data(), 0), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.Init(nullptr, 8), RS_BAD_ARGUMENT);
    // Without a key no cipher can be set up, for a save or for a load past the header.
    Bytes file;
    EXPECT_EQ(store.Save(file), RS_OUT_OF_MEMORY);
    const Bytes valid = EncodeRecordFile(0, {});
    EXPECT_EQ(store.Load(valid.data(), valid.size(), true), RS_OUT_OF_MEMORY);
    EXPECT_EQ(store.Init(longKey.data(), 128), RS_SUCCESS);
    EXPECT_EQ(store.Save(file), RS_SUCCESS);
}

// What Save writes, against files built byte by byte: the newest record first, a replaced
// record gone, names compared case-sensitively, 8 data bytes for a 32-bit value.
TEST_F(RecordStoreTest, SavesTheHandBuiltFile)
{
    const Bytes empty = Saved(store);
    EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 12), FromHex("4B5256FE0100000000000000"));
    EXPECT_EQ(empty, EncodeRecordFile(0, {}));
    const std::string name31(31, 'n');
    ASSERT_EQ(store.SetDword("A", 1), RS_SUCCESS);
    ASSERT_EQ(store.SetString("B", "bee"), RS_SUCCESS);
    ASSERT_EQ(store.SetDword("A", 2), RS_SUCCESS);
    ASSERT_EQ(store.SetString("A", "now a string"), RS_SUCCESS);
    ASSERT_EQ(store.SetString("a", ""), RS_SUCCESS);
    ASSERT_EQ(store.SetDword(name31.c_str(), 0xDEADBEEF), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 4u);
    EXPECT_EQ(Saved(store), EncodeRecordFile(4, {DwordRecord(name31, 0xDEADBEEF), StringRecord("a", ""),
                                                 StringRecord("A", "now a string"), StringRecord("B", "bee")}));

    // D = L + 8 - (L mod 8) with L the string length + 1: always at least one zero byte of fill.
    const std::pair<size_t, uint32_t> sizes[] = {{0, 8}, {6, 8}, {7, 16}, {8, 16}, {15, 24}, {2047, 2056}};
    for (const auto& [length, dataSize] : sizes) {
        CRecordStore one;
        ASSERT_EQ(one.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
        const std::string value(length, 'v');
        ASSERT_EQ(one.SetString("S", value.c_str()), RS_SUCCESS);
        Bytes data(value.begin(), value.end());
        data.resize(dataSize, 0);
        EXPECT_EQ(Saved(one), EncodeRecordFile(1, {RawRecord("S", 0, dataSize, data)})) << length;
    }
}

// Names of at most 31 bytes, strings of at most 2047; a lookup of the wrong type or too small a
// buffer gives the default or nothing, never a part.
TEST_F(RecordStoreTest, SetAndGetRules)
{
    const std::string name32(32, 'n');
    EXPECT_EQ(store.SetDword(name32.c_str(), 7), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetString(name32.c_str(), "x"), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetString("Longer", std::string(2048, 'v').c_str()), RS_BAD_ARGUMENT);
    EXPECT_EQ(store.SetString("x", nullptr), RS_BAD_ARGUMENT);
    ASSERT_EQ(store.SetString("S", "hello"), RS_SUCCESS);
    ASSERT_EQ(store.SetDword("D", 0xDEADBEEF), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 2u);
    uint32_t value = 0;
    EXPECT_EQ(store.GetDword("D", &value, 5), RS_SUCCESS);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(store.GetDword("S", &value, 5), RS_NOT_FOUND);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(GetString("D", RS_NOT_FOUND, "def"), "def");
    char buffer[6];
    EXPECT_EQ(store.GetString("S", buffer, 6, nullptr), RS_SUCCESS);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(store.GetString("S", buffer, 5, nullptr), RS_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(store.GetString("x", buffer, 6, "123456"), RS_BUFFER_TOO_SMALL);
}

// A file built independently, read by the store; unknown types are kept and written back byte
// for byte; every load and save reverses the record order, so two cycles restore the file.
TEST_F(RecordStoreTest, ReadsForeignFileAndKeepsUnknownRecords)
{
    Record opaque = RawRecord("Opaque", 7, 16, FromHex("00112233445566778899AABBCCDDEEFF"));
    opaque.head[20] = 0xEE; // stray bytes after the name's terminator survive too
    const std::vector<Record> records = {StringRecord("Path", "C:\\Temp\\x"), opaque, DwordRecord("Install", 1),
                                         StringRecord("Empty", "")};
    const Bytes file = EncodeRecordFile(4, records);
    ASSERT_EQ(store.Load(file.data(), file.size(), true), RS_SUCCESS);
    EXPECT_EQ(store.GetCount(), 4u);
    EXPECT_EQ(GetString("Path"), "C:\\Temp\\x");
    EXPECT_EQ(GetString("Opaque", RS_NOT_FOUND, "none"), "none");

    const Bytes once = Saved(store);
    EXPECT_EQ(once, EncodeRecordFile(4, std::vector<Record>(records.rbegin(), records.rend())));
    ASSERT_EQ(store.Load(once.data(), once.size(), true), RS_SUCCESS);
    EXPECT_EQ(Saved(store), file);
}

// Damaged, short and oversized files: each gives its status; a file refused before its records
// leaves the previous content ("Keep"), a load stopped at a bad record keeps the records before
// it ("First") and the header's count.
TEST_F(RecordStoreTest, DamagedFilesGiveTheirStatus)
{
    const Record first = DwordRecord("First", 11);
    const Bytes good = EncodeRecordFile(1, {first});
    // A bad record goes in as trailing bytes of the encoder, so that the digest matches.
    const auto withBadRecord = [&first](const Record& bad) {
        Bytes stored = bad.head;
        stored.insert(stored.end(), bad.data.begin(), bad.data.end());
        stored.resize(stored.size() + (8 - stored.size() % 8) % 8, 0);
        Blowfish(kRecordKey, stored.data(), stored.size(), true);
        return EncodeRecordFile(2, {first}, stored);
    };
    Bytes badMagic = good;
    badMagic[3] = 0xFF;
    Bytes version2 = good;
    version2[4] = 2;
    Bytes digestAltered = good;
    digestAltered[20] ^= 0x80;
    Bytes cut = EncodeRecordFile(2, {first, StringRecord("Cut", "abcdefghij")});
    cut.resize(cut.size() - 8);
    const Bytes atLimit = EncodeRecordFile(1, {first}, Bytes(262144 - 76, 0xA5));
    const Bytes overLimit = EncodeRecordFile(1, {first}, Bytes(262145 - 76, 0xA5));
    const struct {
        const char* what;
        Bytes file;
        bool verify;
        int status;
        uint32_t count;
    } cases[] = {
        {"27 bytes", Bytes(good.begin(), good.begin() + 27), false, RS_BAD_FORMAT, 1},
        {"bad magic", badMagic, true, RS_BAD_FORMAT, 1},
        {"version not checked", version2, false, RS_SUCCESS, 1},
        {"digest altered", digestAltered, true, RS_BAD_CHECKSUM, 1},
        {"digest altered unverified", digestAltered, false, RS_SUCCESS, 1},
        {"262144 bytes", atLimit, true, RS_SUCCESS, 1},
        {"262145 bytes", overLimit, true, RS_BAD_CHECKSUM, 1},
        {"D not whole blocks", withBadRecord(RawRecord("Bad", 9, 12, Bytes(12, 1))), true, RS_BAD_FORMAT, 2},
        {"D of 4 GiB - 8", withBadRecord(RawRecord("Bad", 9, 0xFFFFFFF8, {})), true, RS_BAD_FORMAT, 2},
        {"no terminator", withBadRecord(RawRecord("Bad", 0, 8, Bytes(8, 'x'))), true, RS_BAD_FORMAT, 2},
        {"count beyond the records", EncodeRecordFile(3, {first}), true, RS_BAD_FORMAT, 3},
        {"largest count", EncodeRecordFile(0xFFFFFFFF, {first}), true, RS_BAD_FORMAT, 0xFFFFFFFF},
        {"record cut short", cut, false, RS_BAD_FORMAT, 2},
    };
    for (const auto& c : cases) {
        CRecordStore s;
        ASSERT_EQ(s.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE), RS_SUCCESS);
        ASSERT_EQ(s.SetDword("Keep", 5), RS_SUCCESS);
        EXPECT_EQ(s.Load(c.file.data(), c.file.size(), c.verify), c.status) << c.what;
        EXPECT_EQ(s.GetCount(), c.count) << c.what;
        const bool replaced = c.status == RS_SUCCESS || c.count > 1;
        uint32_t value = 0;
        EXPECT_EQ(s.GetDword(replaced ? "First" : "Keep", &value, 0), RS_SUCCESS) << c.what;
        EXPECT_EQ(s.GetDword("Bad", &value, 0), RS_NOT_FOUND);
    }
    for (size_t offset = 12; offset < good.size(); ++offset) {
        Bytes bad = good;
        bad[offset] ^= 0x01;
        ASSERT_EQ(store.Load(bad.data(), bad.size(), true), RS_BAD_CHECKSUM) << offset;
    }
}

namespace {

// Records every call; fails the call with the given number (from 1), if any.
class CRecordingSink final : public IRecordSink {
public:
    explicit CRecordingSink(int failAt = 0) : m_failAt(failAt) {}

    bool WriteAt(uint64_t offset, const void* data, size_t size) noexcept override
    {
        calls.push_back("write " + std::to_string(offset) + " " + std::to_string(size));
        if (int(calls.size()) == m_failAt)
            return false;
        file.resize(std::max(file.size(), size_t(offset + size)));
        std::memcpy(file.data() + offset, data, size);
        return true;
    }

    bool SetEnd(uint64_t size) noexcept override
    {
        calls.push_back("end " + std::to_string(size));
        file.resize(size_t(size));
        return int(calls.size()) != m_failAt;
    }

    std::vector<std::string> calls;
    Bytes file;

private:
    int m_failAt;
};

} // namespace

// The header goes last, so that a file cut short by a failed write never verifies.
TEST_F(RecordStoreTest, SaveWritesHeaderLastAndReportsWriteFailures)
{
    ASSERT_EQ(store.SetDword("One", 1), RS_SUCCESS);
    ASSERT_EQ(store.SetString("Two", "2"), RS_SUCCESS);
    CRecordingSink sink;
    ASSERT_EQ(store.Save(sink), RS_SUCCESS);
    const std::vector<std::string> expected = {"write 28 48", "write 76 48", "end 124", "write 0 28"};
    EXPECT_EQ(sink.calls, expected);
    EXPECT_EQ(sink.file, Saved(store));
    for (int failAt = 1; failAt <= 4; ++failAt) {
        CRecordingSink failing(failAt);
        EXPECT_EQ(store.Save(failing), RS_WRITE_FAILED) << failAt;
        EXPECT_EQ(failing.calls.size(), size_t(failAt));
    }
}
