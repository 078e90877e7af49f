#include "support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string ReadWhole(const std::string& path)
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
    result.out = ReadWhole(outPath);
    result.err = ReadWhole(errPath);
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

std::string CScratchTest::ReadText(const std::string& name) const
{
    return ReadWhole(PathOf(name));
}

} // namespace inspecttest
