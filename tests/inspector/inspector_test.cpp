// The Windows build of submca-inspect under Wine, on files that the module's own writers leave:
// record files written through CInstoptsDat and CPropertyData, and control-file containers
// enciphered by CSCDFile, by this build (CryptGenRandom) and by the native build. Each
// command's exit status and output streams are kept in the shared folder, where the
// inspector_builds_agree test compares them with the native build's for the same command.
#include "framework/instoptsdat.h"
#include "framework/persistdata.h"
#include "update/scdfile.h"

#include "inspectorpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

const std::wstring kFolder = SUBMCA_INSPECT_AGREE_DIR;

HANDLE CreateInheritable(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

struct SRun {
    unsigned long status = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// Runs the Windows submca-inspect in the shared folder; its output streams stay there as
// <name>.out and .err.
SRun RunWindowsBuild(const std::wstring& arguments, const std::wstring& name)
{
    HANDLE out = CreateInheritable(kFolder + L"\\" + name + L".out");
    HANDLE err = CreateInheritable(kFolder + L"\\" + name + L".err");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring line = L"\"" + std::wstring(SUBMCA_INSPECT_WINDOWS_EXE) + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    SRun run;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, kFolder.c_str(), &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 0xFFFFFFFF);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    const std::vector<unsigned char> outBytes = ReadFileBytes(kFolder + L"\\" + name + L".out");
    const std::vector<unsigned char> errBytes = ReadFileBytes(kFolder + L"\\" + name + L".err");
    run.out.assign(outBytes.begin(), outBytes.end());
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

// Runs the Windows submca-inspect for a command that both builds must agree on: the arguments
// and the exit status stay in the shared folder as <name>.args and .status beside the streams.
// The standard output is returned.
std::string RunInspector(const std::wstring& arguments, const std::wstring& name, unsigned long expectedStatus)
{
    const SRun run = RunWindowsBuild(arguments, name);
    EXPECT_EQ(run.status, expectedStatus) << Narrow(arguments);
    const std::string argumentText = Narrow(arguments);
    WriteFileBytes(kFolder + L"\\" + name + L".args", {argumentText.begin(), argumentText.end()});
    const std::string statusText = std::to_string(run.status);
    WriteFileBytes(kFolder + L"\\" + name + L".status", {statusText.begin(), statusText.end()});
    return run.out;
}

std::vector<unsigned char> FolderFile(const std::wstring& name)
{
    return ReadFileBytes(kFolder + L"\\" + name);
}

} // namespace

// The per-sequence data file as the driver writes it (three 32-bit values through one
// CInstoptsDat, newest first), and the shared property file as two scheduled actions with
// properties leave it, a long-named property included.
TEST(InspectorUnderWine, RecordFilesWrittenByTheModule)
{
    ASSERT_TRUE(FileExists(kFolder + L"\\plain.xml")) << "the native preparation step did not run";
    DeleteFileIfAny(kFolder + L"\\SUB_PR_Action.dat");
    {
        CInstoptsDat store(0, (kFolder + L"\\SUB_PR_Action.dat").c_str(), TRUE);
        store.EnableWriting();
        ASSERT_TRUE(store.SetDword(L"Install", 1));
        ASSERT_TRUE(store.SetDword(L"COND1:Probe", 0));
        ASSERT_TRUE(store.SetDword(L"COND1:SUB_PR_Action", 1));
        ASSERT_TRUE(store.Save());
    }
    const std::string sequence = RunInspector(L"records SUB_PR_Action.dat", L"records-sequence", 0);
    EXPECT_NE(sequence.find("[1] offset 28, 32-bit value: COND1:SUB_PR_Action = 1"), std::string::npos) << sequence;

    // An empty file of that name in the current folder makes the store use it.
    WriteFileBytes(kFolder + L"\\krvlprop.dat", {});
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(kFolder.c_str()));
    {
        CPropertyData properties(0);
        ASSERT_TRUE(properties.AddRef());
        ASSERT_TRUE(properties.AddRef());
        ASSERT_TRUE(properties.SetProperty(L"CAWPROP", L"1", TRUE));
        ASSERT_TRUE(properties.SetProperty(L"ORB_SUBMISSION_ENGINE_DATA_FOLDER", L"C:\\ProgramData\\ORB\\", TRUE));
    }
    SetCurrentDirectoryW(previous);
    const std::string shared = RunInspector(L"records krvlprop.dat", L"records-properties", 0);
    EXPECT_NE(shared.find("string: LongProp0:Name = \"ORB_SUBMISSION_ENGINE_DATA_FOLDER\""), std::string::npos)
        << shared;
    EXPECT_NE(shared.find("32-bit value: UC:PROP_COUNT = 2"), std::string::npos) << shared;
}

// Containers enciphered by this build, by the native build and by the module's own CSCDFile
// decode to the plain file; the rest are the commands whose output both builds must agree on.
TEST(InspectorUnderWine, ContainersAndCommandsOfBothBuilds)
{
    const std::vector<unsigned char> plain = FolderFile(L"plain.xml");
    ASSERT_FALSE(plain.empty());
    DeleteFileIfAny(kFolder + L"\\windows-SCD.xml");
    RunInspector(L"scd --encipher plain.xml -o windows-SCD.xml", L"encipher", 0);
    WriteFileBytes(kFolder + L"\\module-SCD.xml", plain);
    {
        clfs::update::CSCDFile file;
        ASSERT_EQ(file.Initialize((kFolder + L"\\module-SCD.xml").c_str(), false), 0);
        ASSERT_EQ(file.Encrypt(), 0);
    }
    std::vector<std::wstring> sources = {L"windows-SCD.xml", L"module-SCD.xml"};
    if (SUBMCA_INSPECT_HAVE_NATIVE)
        sources.push_back(L"native-SCD.xml");
    for (const std::wstring& source : sources) {
        DeleteFileIfAny(kFolder + L"\\decoded-" + source);
        RunInspector(L"scd " + source + L" -o decoded-" + source, L"decode-" + source, 0);
        EXPECT_EQ(FolderFile(L"decoded-" + source), plain) << Narrow(source);
        RunInspector(L"check " + source, L"check-" + source, 0);
    }
    // To standard output in binary mode: the bytes of the file, line ends untouched.
    const std::string toConsole = RunInspector(L"scd windows-SCD.xml", L"decode-stdout", 0);
    EXPECT_EQ(toConsole, std::string(plain.begin(), plain.end()));

    std::vector<unsigned char> cut = FolderFile(L"windows-SCD.xml");
    cut.pop_back();
    WriteFileBytes(kFolder + L"\\cut-SCD.xml", cut);
    RunInspector(L"scd cut-SCD.xml", L"cut", 1);
    RunInspector(L"records absent.dat", L"missing", 3);
    RunInspector(L"scd --encipher plain.xml -o plain.xml", L"usage", 2);
}

// Inputs that are not files on a disk are refused before a byte is read: the NUL device, and a
// named pipe whose server never writes, which a read would wait on for ever. Windows names, so
// the native build has no part in these.
TEST(InspectorUnderWine, InputThatIsNotAFileOnADiskIsRefused)
{
    const std::wstring pipe = L"\\\\.\\pipe\\submca-inspect-test";
    const struct {
        std::wstring path;
        std::string reason;
    } inputs[] = {
        {L"NUL", "is a device, not a regular file"},
        {pipe, "is a FIFO or a pipe, not a regular file"},
    };
    for (const wchar_t* command : {L"scd", L"records", L"check", L"log"}) {
        for (const auto& input : inputs) {
            // A fresh instance for each run: one that a reader has left stays busy.
            HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                             4096, 0, nullptr);
            ASSERT_NE(server, INVALID_HANDLE_VALUE);
            const SRun run = RunWindowsBuild(std::wstring(command) + L" " + input.path, L"not-a-file");
            CloseHandle(server);
            EXPECT_EQ(run.status, 3u) << Narrow(command) << " " << Narrow(input.path);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "submca-inspect: " + Narrow(input.path) + ": " + input.reason + "\n");
        }
    }
}
