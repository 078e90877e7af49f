// Shared pieces of the inspector tests: a scratch folder and the two ways of running the tool.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oracle.h"

namespace inspecttest {

using namespace oracle;

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

inline Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A fresh folder per test, removed afterwards.
class CScratchTest : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::string PathOf(const std::string& name) const { return m_folder + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) const;
    std::string ReadText(const std::string& name) const;

    std::string m_folder;
};

} // namespace inspecttest
