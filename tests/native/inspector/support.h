// Shared pieces of the inspector tests: a scratch folder, the two ways of running the tool, and
// independent encoders of both file formats built on the OpenSSL oracle.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "oracle.h"

namespace inspecttest {

using oracle::Bytes;

struct SResult {
    int status = -1;
    std::string out;
    std::string err;
};

// inspector::Run in this process.
SResult Inspect(const std::vector<std::string>& arguments);
// The built executable, its streams captured apart.
SResult InspectProcess(const std::vector<std::string>& arguments);

// The lines of a text without their line ends.
std::vector<std::string> Lines(const std::string& text);

// A fresh folder per test, removed afterwards.
class CScratchTest : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::string PathOf(const std::string& name) const { return m_folder + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) const;
    Bytes Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

    std::string m_folder;
};

// One record of a record file, as the format lays it out before enciphering.
struct SRawRecord {
    Bytes head; // 40 bytes: name field, type, data size D
    Bytes data; // D bytes
};

SRawRecord RawRecord(const std::string& nameField, uint32_t type, uint32_t dataSize, const Bytes& data);
// A string or 32-bit value laid out as the module writes it (D = L + 8 - L mod 8, zero fill).
SRawRecord StringRecord(const std::string& name, const std::string& value);
SRawRecord DwordRecord(const std::string& name, uint32_t value);

// A record file in the given record order: header with the count, the records enciphered whole
// with the fixed key, trailing bytes, and the enciphered MD5 over header bytes 0-11 and the rest.
Bytes EncodeRecordFile(uint32_t count, const std::vector<SRawRecord>& records, const Bytes& trailing = {},
                       uint32_t version = 1);

// An enciphered control file: header with the magic, the data key enciphered with the
// key-enciphering key, the stored length, then body (already padded by the caller) enciphered
// with the data key.
Bytes EncodeContainer(const Bytes& dataKey, uint64_t storedLength, const Bytes& body);
// The container the module writes for a plain file: L = size + 1, 1 to 8 zero bytes of fill.
Bytes EncodeContainerFor(const std::string& plain, const Bytes& dataKey);

// The container's content read independently: the deciphered body (whole blocks) and L.
struct SContainer {
    Bytes magic;
    Bytes dataKey;
    uint64_t storedLength = 0;
    Bytes body;
};
SContainer DecodeContainer(const Bytes& file);

} // namespace inspecttest
