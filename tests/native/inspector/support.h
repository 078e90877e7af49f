// Shared pieces of the inspector tests: a scratch folder and the tool run in this process.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "inspector.h"
#include "oracle.h"

namespace inspecttest {

using namespace oracle;

struct SResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline SResult Inspect(const std::vector<std::string>& arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    inspector::SConsole console{out, err};
    const int status = inspector::Run(arguments, console);
    return {status, out.str(), err.str()};
}

// The lines of a text without their line ends.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// What a terminal shows as it is: printable ASCII and line ends, nothing it would act on.
inline bool IsPlainText(const std::string& text)
{
    for (const char c : text) {
        if ((c < 0x20 || c > 0x7E) && c != '\n')
            return false;
    }
    return true;
}

// A fresh folder per test, removed afterwards.
class CScratchTest : public testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/inspect-test-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::string PathOf(const std::string& name) const { return m_folder + "/" + name; }

    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(PathOf(name), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return PathOf(name);
    }

    std::string ReadText(const std::string& name) const
    {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string m_folder;
};

} // namespace inspecttest
