#include "support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "inspector.h"

extern char** environ;

namespace inspecttest {

namespace {

const Bytes kRecordKey = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};

Bytes KeyEncipheringKey()
{
    return oracle::GuidBytes("{4E92A7C1-58B3-4D06-A1F8-7C3E60B295DA}");
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

SResult Inspect(const std::vector<std::string>& arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    inspector::SConsole console{out, err};
    SResult result;
    result.status = inspector::Run(arguments, console);
    result.out = out.str();
    result.err = err.str();
    return result;
}

SResult InspectProcess(const std::vector<std::string>& arguments)
{
    char folder[] = "/tmp/inspect-run-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return SResult();
    const std::string outPath = std::string(folder) + "/out";
    const std::string errPath = std::string(folder) + "/err";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> line = {SUBMCA_INSPECT_EXECUTABLE};
    line.insert(line.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : line)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    SResult result;
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int waitStatus = 0;
        waitpid(child, &waitStatus, 0);
        result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    std::filesystem::remove_all(folder);
    return result;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void CScratchTest::SetUp()
{
    char folder[] = "/tmp/inspect-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_folder = folder;
}

void CScratchTest::TearDown()
{
    std::filesystem::remove_all(m_folder);
}

std::string CScratchTest::Write(const std::string& name, const Bytes& bytes) const
{
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path;
}

Bytes CScratchTest::Read(const std::string& name) const
{
    std::ifstream in(PathOf(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool CScratchTest::Exists(const std::string& name) const
{
    return std::filesystem::exists(PathOf(name));
}

SRawRecord RawRecord(const std::string& nameField, uint32_t type, uint32_t dataSize, const Bytes& data)
{
    SRawRecord record{Bytes(40, 0), data};
    std::copy_n(nameField.begin(), std::min<size_t>(nameField.size(), 32), record.head.begin());
    oracle::PutLe32(record.head.data() + 32, type);
    oracle::PutLe32(record.head.data() + 36, dataSize);
    return record;
}

SRawRecord StringRecord(const std::string& name, const std::string& value)
{
    const size_t length = value.size() + 1;
    Bytes data(value.begin(), value.end());
    data.resize(length + 8 - length % 8, 0);
    return RawRecord(name, 0, uint32_t(data.size()), data);
}

SRawRecord DwordRecord(const std::string& name, uint32_t value)
{
    Bytes data(8, 0);
    oracle::PutLe32(data.data(), value);
    return RawRecord(name, 1, 8, data);
}

Bytes EncodeRecordFile(uint32_t count, const std::vector<SRawRecord>& records, const Bytes& trailing, uint32_t version)
{
    Bytes file(28, 0);
    oracle::PutLe32(file.data(), 0xFE56524B);
    oracle::PutLe32(file.data() + 4, version);
    oracle::PutLe32(file.data() + 8, count);
    for (const SRawRecord& record : records) {
        Bytes stored = record.head;
        stored.insert(stored.end(), record.data.begin(), record.data.end());
        oracle::Blowfish(kRecordKey, stored.data(), stored.size(), true);
        file.insert(file.end(), stored.begin(), stored.end());
    }
    file.insert(file.end(), trailing.begin(), trailing.end());
    Bytes digested(file.begin(), file.begin() + 12);
    digested.insert(digested.end(), file.begin() + 28, file.end());
    auto digest = oracle::Md5(digested.data(), digested.size());
    oracle::Blowfish(kRecordKey, digest.data(), digest.size(), true);
    std::copy(digest.begin(), digest.end(), file.begin() + 12);
    return file;
}

Bytes EncodeContainer(const Bytes& dataKey, uint64_t storedLength, const Bytes& body)
{
    Bytes file = oracle::GuidBytes("{D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}");
    Bytes key = dataKey;
    oracle::Blowfish(KeyEncipheringKey(), key.data(), key.size(), true);
    file.insert(file.end(), key.begin(), key.end());
    for (int i = 0; i < 8; ++i)
        file.push_back(uint8_t(storedLength >> (8 * i)));
    Bytes enciphered = body;
    oracle::Blowfish(dataKey, enciphered.data(), enciphered.size(), true);
    file.insert(file.end(), enciphered.begin(), enciphered.end());
    return file;
}

Bytes EncodeContainerFor(const std::string& plain, const Bytes& dataKey)
{
    const size_t length = plain.size() + 1;
    Bytes body(plain.begin(), plain.end());
    body.resize(length + 8 - length % 8, 0);
    return EncodeContainer(dataKey, length, body);
}

SContainer DecodeContainer(const Bytes& file)
{
    SContainer container;
    if (file.size() < 40)
        return container;
    container.magic.assign(file.begin(), file.begin() + 16);
    container.dataKey.assign(file.begin() + 16, file.begin() + 32);
    oracle::Blowfish(KeyEncipheringKey(), container.dataKey.data(), 16, false);
    for (int i = 0; i < 8; ++i)
        container.storedLength |= uint64_t(file[32 + i]) << (8 * i);
    container.body.assign(file.begin() + 40, file.end());
    oracle::Blowfish(container.dataKey, container.body.data(), container.body.size(), false);
    return container;
}

} // namespace inspecttest
