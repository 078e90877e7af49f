// The Windows build of submca-inspect under Wine, on files that the module's own writers leave:
// record files written through CInstoptsDat and CPropertyData, and control-file containers
// enciphered by CSCDFile, by this build (CryptGenRandom) and by the native build. Each
// command's standard output is kept in the shared folder, where the inspector_builds_agree test
// compares it with the native build's output for the same command.
#include "framework/instoptsdat.h"
#include "framework/persistdata.h"
#include "update/scdcontainer.h"
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

struct SRun {
    unsigned long status = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

HANDLE CreateInheritable(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Runs the Windows submca-inspect in the shared folder with the given arguments. The arguments,
// the exit status and both output streams stay there as <name>.args, .status, .out and .err for
// the comparison with the native build.
SRun RunInspector(const std::wstring& arguments, const std::wstring& name)
{
    const std::wstring outPath = kFolder + L"\\" + name + L".out";
    const std::wstring errPath = kFolder + L"\\" + name + L".err";
    HANDLE out = CreateInheritable(outPath);
    HANDLE err = CreateInheritable(errPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring line = L"\"" + std::wstring(SUBMCA_INSPECT_WINDOWS_EXE) + L"\" " + arguments;
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    PROCESS_INFORMATION process = {};
    SRun run;
    if (CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, kFolder.c_str(), &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 0xFFFFFFFF);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    const std::string argumentText = Narrow(arguments);
    WriteFileBytes(kFolder + L"\\" + name + L".args", {argumentText.begin(), argumentText.end()});
    const std::string statusText = std::to_string(run.status);
    WriteFileBytes(kFolder + L"\\" + name + L".status", {statusText.begin(), statusText.end()});
    const std::vector<unsigned char> outBytes = ReadFileBytes(outPath);
    const std::vector<unsigned char> errBytes = ReadFileBytes(errPath);
    run.out.assign(outBytes.begin(), outBytes.end());
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

std::vector<unsigned char> FolderFile(const std::wstring& name)
{
    return ReadFileBytes(kFolder + L"\\" + name);
}

class InspectorUnderWine : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(kFolder + L"\\plain.xml")) << "the native preparation step did not run";
    }
};

} // namespace

// The per-sequence data file as the driver writes it: three 32-bit values through one
// CInstoptsDat, which saves its list newest first.
TEST_F(InspectorUnderWine, RecordFileWrittenByCInstoptsDat)
{
    const std::wstring path = kFolder + L"\\SUB_PR_Action.dat";
    DeleteFileIfAny(path);
    {
        CInstoptsDat store(0, path.c_str(), TRUE);
        store.EnableWriting();
        ASSERT_TRUE(store.SetDword(L"Install", 1));
        ASSERT_TRUE(store.SetDword(L"COND1:Probe", 0));
        ASSERT_TRUE(store.SetDword(L"COND1:SUB_PR_Action", 1));
        ASSERT_TRUE(store.Save());
    }
    ASSERT_EQ(FolderFile(L"SUB_PR_Action.dat").size(), 28u + 3 * 48);

    const SRun run = RunInspector(L"records SUB_PR_Action.dat", L"records-sequence");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    // The native tests check the report; here the file the module wrote must read as its records.
    EXPECT_TRUE(run.out.find("[1] offset 28, 32-bit value: COND1:SUB_PR_Action = 1") != std::string::npos) << run.out;
    EXPECT_TRUE(run.out.find("[3] offset 124, 32-bit value: Install = 1") != std::string::npos) << run.out;
}

// The shared property file as two scheduled actions with properties leave it, a long-named
// property included. An empty file of that name in the current folder makes the store use it.
TEST_F(InspectorUnderWine, PropertyFileWrittenByCPropertyData)
{
    const std::wstring path = kFolder + L"\\krvlprop.dat";
    WriteFileBytes(path, {});
    const std::wstring longName = L"ORB_SUBMISSION_ENGINE_DATA_FOLDER";
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(kFolder.c_str()));
    {
        CPropertyData properties(0);
        ASSERT_TRUE(properties.AddRef());
        ASSERT_TRUE(properties.AddRef());
        ASSERT_TRUE(properties.SetProperty(L"CAWPROP", L"1", TRUE));
        ASSERT_TRUE(properties.SetProperty(L"INSTALLDIR", L"C:\\Program Files\\Korvalin\\", TRUE));
        ASSERT_TRUE(properties.SetProperty(longName.c_str(), L"C:\\ProgramData\\Korvalin\\ORB\\", TRUE));
    }
    SetCurrentDirectoryW(previous);

    const SRun run = RunInspector(L"records krvlprop.dat", L"records-properties");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* part : {"count:           6 records\ndigest:          ok\n",
                             "[1] offset 28, string: LongProp0:Value = \"C:\\ProgramData\\Korvalin\\ORB\\\"",
                             "[3] offset 148, string: LongProp0:Name = \"ORB_SUBMISSION_ENGINE_DATA_FOLDER\"",
                             "[6] offset 348, 32-bit value: UC:PROP_COUNT = 2"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
}

// A container enciphered by this build: the header as the format lays it out, and both builds'
// containers decode to the plain file.
TEST_F(InspectorUnderWine, ContainersOfBothBuildsDecode)
{
    const std::vector<unsigned char> plain = FolderFile(L"plain.xml");
    ASSERT_FALSE(plain.empty());
    DeleteFileIfAny(kFolder + L"\\windows-SCD.xml");
    const SRun encipher = RunInspector(L"scd --encipher plain.xml -o windows-SCD.xml", L"encipher");
    ASSERT_EQ(encipher.status, 0u) << encipher.err;
    const std::vector<unsigned char> container = FolderFile(L"windows-SCD.xml");
    const size_t length = plain.size() + 1;
    ASSERT_EQ(container.size(), 40 + length + 8 - length % 8);
    const std::vector<unsigned char> magic = {0x52, 0x8B, 0xF0, 0xD3, 0x19, 0x6C, 0x7A, 0x4E,
                                              0x9B, 0x41, 0xE2, 0x75, 0xA0, 0xC8, 0xD9, 0x3F};
    EXPECT_EQ(std::vector<unsigned char>(container.begin(), container.begin() + 16), magic);
    EXPECT_EQ(container[32] | container[33] << 8 | container[34] << 16 | uint32_t(container[35]) << 24, length);
    EXPECT_EQ(container[36] | container[37] | container[38] | container[39], 0);
    EXPECT_EQ(FolderFile(L"plain.xml"), plain);

    std::vector<const wchar_t*> sources = {L"windows-SCD.xml"};
    if (SUBMCA_INSPECT_HAVE_NATIVE)
        sources.push_back(L"native-SCD.xml");
    for (const wchar_t* source : sources) {
        const std::wstring name = std::wstring(L"decode-") + source;
        const std::wstring target = name + L".xml";
        DeleteFileIfAny(kFolder + L"\\" + target);
        const SRun run = RunInspector(L"scd " + std::wstring(source) + L" -o " + target, name);
        EXPECT_EQ(run.status, 0u) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find("form:            enciphered container\n"), std::string::npos);
        EXPECT_EQ(FolderFile(target), plain) << Narrow(source);
    }

    // To standard output, in binary mode: the bytes of the file, line ends untouched.
    const SRun toConsole = RunInspector(L"scd windows-SCD.xml", L"decode-stdout");
    EXPECT_EQ(toConsole.status, 0u);
    EXPECT_EQ(toConsole.out, std::string(plain.begin(), plain.end()));
}

// A container written by the module's own CSCDFile, as the update leaves SCD.xml.
TEST_F(InspectorUnderWine, ContainerWrittenByCSCDFile)
{
    const std::vector<unsigned char> plain = FolderFile(L"plain.xml");
    const std::wstring path = kFolder + L"\\module-SCD.xml";
    WriteFileBytes(path, plain);
    {
        clfs::update::CSCDFile file;
        ASSERT_EQ(file.Initialize(path.c_str(), false), 0);
        ASSERT_EQ(file.Encrypt(), 0);
    }
    const size_t length = plain.size() + 1;
    ASSERT_EQ(FolderFile(L"module-SCD.xml").size(), 40 + length + 8 - length % 8);

    DeleteFileIfAny(kFolder + L"\\decode-module-SCD.xml.xml");
    const SRun run = RunInspector(L"scd module-SCD.xml -o decode-module-SCD.xml.xml", L"decode-module-SCD.xml");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("stored length L: " + std::to_string(length) + " (content of " +
                           std::to_string(plain.size()) + " bytes and its terminating zero)\n"),
              std::string::npos);
    EXPECT_EQ(FolderFile(L"decode-module-SCD.xml.xml"), plain);
}

TEST_F(InspectorUnderWine, BadInputGivesOneLineAndTheStatus)
{
    const std::vector<uint8_t> content = {'<', 'a', '/', '>', 0};
    const uint8_t key[clfs::update::scd::SCD_KEY_SIZE] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<uint8_t> damaged;
    ASSERT_TRUE(clfs::update::scd::BuildFile(content.data(), content.size(), key, damaged));
    ASSERT_EQ(damaged.size(), 48u);
    damaged.resize(47);
    WriteFileBytes(kFolder + L"\\cut-SCD.xml", {damaged.begin(), damaged.end()});
    const SRun cut = RunInspector(L"scd cut-SCD.xml", L"cut");
    EXPECT_EQ(cut.status, 1u);
    EXPECT_EQ(cut.out, "");
    EXPECT_NE(cut.err.find("submca-inspect: cut-SCD.xml: damaged container: the stored length L is larger than the "
                           "body; the module refuses it\n"),
              std::string::npos);

    const SRun missing = RunInspector(L"records absent.dat", L"missing");
    EXPECT_EQ(missing.status, 3u);
    EXPECT_EQ(missing.err, "submca-inspect: absent.dat: no such file\n");

    const SRun usage = RunInspector(L"scd --encipher plain.xml -o plain.xml", L"usage");
    EXPECT_EQ(usage.status, 2u);
    EXPECT_EQ(usage.err, "submca-inspect: scd: -o names the input file itself; add --in-place instead to replace "
                         "it (see 'submca-inspect scd --help')\n");
}

// The sample's two controls in the update's order: "Detection" before "Submission".
TEST_F(InspectorUnderWine, CheckListsTheSampleInKeyOrder)
{
    std::vector<const wchar_t*> sources = {L"plain.xml"};
    if (SUBMCA_INSPECT_HAVE_NATIVE)
        sources.push_back(L"native-SCD.xml");
    for (const wchar_t* source : sources) {
        const SRun run = RunInspector(L"check " + std::wstring(source), std::wstring(L"check-") + source);
        EXPECT_EQ(run.status, 0u) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find("[1] product \"Korvalin Antivirus\" version \"12.0\" type \"Detection\""), std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("verdict:         accepted (2 configurations)\n"), std::string::npos);
    }
}
