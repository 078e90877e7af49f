#include "tests/e2e/updateqsnfixture.h"

#include "update/scdcontainer.h"

#include "tests/common/files.h"
#include "tests/common/registry.h"

#include <cstdint>

namespace testsupport {

const std::string kEngineModule = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kEarlierEngineState = "[engine]\n384=dword:7\n[config 1]\n256=string:old.example\n"
                                        "[config 2]\n256=string:older.example\n";

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Sections ParseSections(const std::string& text)
{
    Sections sections;
    std::string current;
    for (const std::string& line : SplitLines(text)) {
        if (!line.empty() && line.front() == '[')
            sections[current = line];
        else if (!line.empty())
            sections[current].push_back(line);
    }
    return sections;
}

UpdateQSNFixture::UpdateQSNFixture(std::string services, std::wstring folderName, std::wstring valueSuffix)
    : m_services(std::move(services)), m_folderName(std::move(folderName)), m_valueSuffix(std::move(valueSuffix))
{
}

void UpdateQSNFixture::SetUp()
{
    DeleteKeyTree(kKorvalinKey);
    m_runtime = std::make_unique<servicetest::CSharedRuntime>();
    m_runtime->SetServices(m_services);
    m_dataFolder = MakeScratchFolder(L"Submission Engine Data\\" + m_folderName);
    SetString(kInstalledAppsKey, L"ORBSubmissionEngineData", m_dataFolder + m_valueSuffix);
    SetEngineState(kEarlierEngineState);
}

void UpdateQSNFixture::TearDown()
{
    m_runtime.reset();
    DeleteKeyTree(kKorvalinKey);
}

std::wstring UpdateQSNFixture::ControlFile() const
{
    return m_dataFolder + L"\\SCD.xml";
}

std::wstring UpdateQSNFixture::EngineStore() const
{
    return m_runtime->EngineDirectory() + L"\\vexcore-configs.txt";
}

void UpdateQSNFixture::SetEngineState(const std::string& state) const
{
    WriteFileBytes(EngineStore(), ToBytes(state));
}

Sections UpdateQSNFixture::EngineState() const
{
    const Bytes bytes = ReadFileBytes(EngineStore());
    return ParseSections(std::string(bytes.begin(), bytes.end()));
}

void UpdateQSNFixture::ExpectEncipheredOriginal(const Bytes& original) const
{
    const Bytes file = ReadFileBytes(ControlFile());
    ASSERT_GE(file.size(), clfs::update::scd::SCD_HEADER_SIZE);
    EXPECT_TRUE(clfs::update::scd::HasMagic(file.data())) << "the control file is enciphered";
    std::vector<uint8_t> content;
    ASSERT_EQ(clfs::update::scd::SCD_READ_DECIPHERED,
              clfs::update::scd::ReadContent(file.data(), file.size(), content));
    Bytes expected = original;
    expected.push_back(0);
    EXPECT_EQ(expected, Bytes(content.begin(), content.end()));
}

void UpdateQSNFixture::ExpectEngineStoppedAndRestarted() const
{
    Lines moduleCalls;
    for (const std::string& line : m_runtime->ServiceJournal())
        if (line.find("UnloadModule") != std::string::npos || line.find("LoadModule") != std::string::npos)
            moduleCalls.push_back(line);
    EXPECT_EQ((Lines{"IServiceConfig[Submission].UnloadModule(\"" + kEngineModule + "\") -> 0x00010000",
                     "IServiceConfig[Submission].LoadModule(\"" + kEngineModule +
                         "\", \"ORBSubmissionEngine\") -> 0x00010000"}),
              moduleCalls);
    EXPECT_EQ(m_services, m_runtime->Services());
}

} // namespace testsupport
