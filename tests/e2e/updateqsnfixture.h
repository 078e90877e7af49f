#pragma once
// What the UpdateQSN tests in the real msiexec share: the shared runtime with the engine running
// in the service host, the engine's data folder for the control file, and the engine state as
// the engine stand-in stores it.
#include "tests/e2e/msiexec.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;
// The engine stand-in's store: "[engine]" or "[config N]" and the value lines below it.
using Sections = std::map<std::string, Lines>;

extern const std::string kEngineModule;       // the engine's path in the service host
extern const std::string kEarlierEngineState; // two configurations and one engine-wide value to keep

Bytes ToBytes(const std::string& text);
Sections ParseSections(const std::string& text);

class UpdateQSNFixture : public testing::Test {
protected:
    // services: the service host's state, with the engine in "[Submission]"; folderName: the data
    // folder below the scratch folder; valueSuffix: appended to the folder in the registry value.
    UpdateQSNFixture(std::string services, std::wstring folderName, std::wstring valueSuffix);

    void SetUp() override;
    void TearDown() override;

    std::wstring ControlFile() const;
    std::wstring EngineStore() const;
    void SetEngineState(const std::string& state) const;
    Sections EngineState() const;

    // Runs the installation (the update runs in its script); returns its module lines. The
    // installation must succeed: the update never fails it.
    Lines RunUpdate() { return m_runs.Run(); }

    // The control file is enciphered and decodes back to exactly original.
    void ExpectEncipheredOriginal(const Bytes& original) const;
    // The engine module was unloaded from its configuration and loaded there again.
    void ExpectEngineStoppedAndRestarted() const;

    const std::string m_services;
    std::unique_ptr<servicetest::CSharedRuntime> m_runtime;
    std::wstring m_dataFolder;

private:
    InstallationRuns m_runs{L"updateqsn"};
    const std::wstring m_folderName;
    const std::wstring m_valueSuffix;
};

} // namespace testsupport
