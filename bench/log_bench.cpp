// Throughput and peak memory of "submca-inspect log" on generated logs of the shapes customers
// send: one long Windows session, 30,000 sessions appended to one file (msiexec /l*v+ or the
// logging policy), a UTF-16LE trace of 64 KiB lines, and the shapes that once took quadratic
// time. Each log is read in a child process of its own, piece by piece through the line reader
// into the analysis as the command does, so that its peak resident memory is the reading's alone;
// the same file is then counted with "grep -c KRVL" for comparison. MiB/s and the ratio to grep
// are by CPU time (user and system), which the other work of a shared machine does not inflate;
// the wall time is printed beside it. Prints figures, checks none.
//
//   log_bench [MiB [SHAPE...]]   (size of the three large shapes, default 220; the shapes by
//                                 number, 1 to 6, default all)
//   log_bench --read FILE
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "loganalysis.h"
#include "logreader.h"
#include "platform.h"

namespace {

const char kPrefix[] = "MSI (s) (F4:A8) [10:00:00:123]: ";

// One Windows session: the client's start, the server's sequence with the module's immediate
// call, the script with its queued, deferred and commit calls, the result and a property dump.
std::string Session(int n)
{
    const std::string s = kPrefix;
    std::string text = "=== Verbose logging started: 12/7/2026  10:00:00  Build type: SHIP UNICODE 5.00.10011.00  "
                       "Calling process: C:\\Windows\\system32\\msiexec.exe ===\n";
    for (int i = 0; i < 12; ++i)
        text += s + "Component: Comp" + std::to_string(n) + "_" + std::to_string(i) +
                "; Installed: Absent;   Request: Local;   Action: Local\n";
    text +=
        s + "Doing action: RegisterPR\nAction start 10:00:01: RegisterPR.\n" + s +
        "Invoking remote custom action. DLL: C:\\Windows\\Installer\\MSI1A2B.tmp, Entrypoint: RegisterPR\n"
        "KRVL: Scheduling (Begin): SubmissionEnginePatchRelay\nKRVL: Scheduling (End): SubmissionEnginePatchRelay\n"
        "Action ended 10:00:01: RegisterPR. Return value 1.\n" +
        s + "Doing action: InstallFinalize\nAction start 10:00:02: InstallFinalize.\n" + s +
        "Executing op: ActionStart(Name=RegisterPR_Rollback,,)\n" + s +
        "Executing op: CustomActionSchedule(Action=RegisterPR_Rollback,ActionType=1281,Source=BinaryData,"
        "Target=RegisterPR,)\n" +
        s + "Executing op: ActionStart(Name=UpdateQSN,,)\n" + s +
        "Executing op: CustomActionSchedule(Action=UpdateQSN,ActionType=3073,Source=BinaryData,Target=UpdateQSN,)\n" +
        s + "Invoking remote custom action. DLL: C:\\Windows\\Installer\\MSI1A2C.tmp, Entrypoint: UpdateQSN\n" +
        "KRVL (Error): Failed to update QSN config: 0x80070002\n" + s +
        "Executing op: ActionStart(Name=RegisterPR_Commit,,)\n" + s +
        "Executing op: CustomActionSchedule(Action=RegisterPR_Commit,ActionType=1537,Source=BinaryData,"
        "Target=RegisterPR,)\n" +
        s + "Executing op: End(Checksum=0,ProgressTotalHDWord=0,ProgressTotalLDWord=1024)\n" + s +
        "Invoking remote custom action. DLL: C:\\Windows\\Installer\\MSI1A2D.tmp, Entrypoint: RegisterPR\n"
        "KRVL: Commit (Begin): SubmissionEnginePatchRelay\nKRVL: Commit (End): SubmissionEnginePatchRelay\n"
        "Action ended 10:00:03: InstallFinalize. Return value 1.\n" +
        s + "Product: Bench -- Installation completed successfully.\n" + s +
        "Windows Installer installed the product. Product Name: Bench. Product Version: 1.0. Product Language: "
        "1033. Manufacturer: Bench. Installation success or error status: 0.\n";
    for (int i = 0; i < 66; ++i)
        text += "Property(S): PROPERTY" + std::to_string(i) + " = C:\\Program Files\\Korvalin\\Submission\\\n";
    return text + s + "MainEngineThread is returning 0\n=== Verbose logging stopped: 12/7/2026  10:00:04 ===\n";
}

// The body of one long session: the installer's chatter with a call of the module now and then.
std::string LongSessionPart(int n)
{
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += std::string(kPrefix) + "Component: Comp" + std::to_string(n) + "_" + std::to_string(i) +
                "; Installed: Absent;   Request: Local;   Action: Local\n";
    text += "Action start 10:00:01: UpdateQSN.\nKRVL (Error): Failed to update QSN config: 0x80070002\n"
            "Action ended 10:00:01: UpdateQSN. Return value 1.\n"
            "KRVL: Deferred (Begin): Action" +
            std::to_string(n) + " (Begin) " + std::string(300, 'x') + "\n";
    return text;
}

std::string TraceLine(int n)
{
    std::string line = "2026-12-04-05-04-25-123 : submca : 0x0A3C : 0x0B10 : Error : Could not get file attrib for "
                       "C:\\Data\\" +
                       std::to_string(n % 50) + "\\";
    while (line.size() < 64 * 1024 - 16)
        line += "Could not get file attrib for ";
    return line + ": 0x80070002\n";
}

std::string Utf16(const std::string& text)
{
    std::string wide(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        wide[2 * i] = text[i];
    return wide;
}

// Writes pieces until the file holds at least `bytes`, or `count` pieces when that is given.
bool WriteLog(const std::string& path, const std::string& head, const std::function<std::string(int)>& piece,
              size_t bytes, int count, const std::string& tail = std::string())
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    size_t written = std::fwrite(head.data(), 1, head.size(), file);
    for (int n = 0; count > 0 ? n < count : written < bytes; ++n) {
        const std::string text = piece(n);
        written += std::fwrite(text.data(), 1, text.size(), file);
    }
    std::fwrite(tail.data(), 1, tail.size(), file);
    return std::fclose(file) == 0;
}

int Read(const char* path)
{
    inspector::CLogAnalysis analysis;
    inspector::CLineReader reader([&analysis](std::string_view line) { analysis.Add(line); });
    std::string reason;
    if (!inspector::ReadFileInPieces(
            path, [&reader](const uint8_t* data, size_t size) { return reader.Feed(data, size); }, reason))
        return 1;
    reader.Finish();
    analysis.Finish();
    std::ostringstream report;
    analysis.WriteReport(report);
    return 0;
}

struct SRun {
    double seconds = 0; // wall time
    double cpu = 0;     // user and system time: what the machine's other work does not inflate
    long peakKiB = 0;
};

double Seconds(const timeval& time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

// Runs a program in a child process and measures its wall time and peak resident memory.
SRun Measure(const char* program, const char* option, const char* argument, const std::string& path, bool quiet)
{
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        // Not /dev/null: GNU grep takes output there as -q and stops at the first match.
        if (quiet && std::freopen("log_bench.out", "w", stdout) == nullptr)
            _exit(127);
        execlp(program, program, option, argument, path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (quiet)
        std::remove("log_bench.out");
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--read") == 0)
        return Read(argv[2]);
    const size_t bytes = size_t(argc > 1 ? std::atol(argv[1]) : 220) << 20;
    const std::string session = "=== Verbose logging started: 12/7/2026  10:00:00 ===\n";
    const std::string begin = session + "Action start 10:00:01: RegisterPR.\n";
    const struct {
        const char* name;
        std::function<bool(const std::string&)> write;
    } shapes[] = {
        {"one long session",
         [&](const std::string& path) { return WriteLog(path, session, LongSessionPart, bytes, 0); }},
        {"30,000 appended sessions",
         [&](const std::string& path) { return WriteLog(path, "", Session, bytes, 30000); }},
        {"trace, 64 KiB lines (UTF-16LE)",
         [&](const std::string& path) {
             return WriteLog(
                 path, "\xFF\xFE", [](int n) { return Utf16(TraceLine(n)); }, bytes, 0);
         }},
        {"60k (Begin), then 60k (End)",
         [&](const std::string& path) {
             return WriteLog(
                 path, begin,
                 [](int n) {
                     return "KRVL: Deferred " + std::string(n < 60000 ? "(Begin)" : "(End)") + ": Action" +
                            std::to_string(n % 60000) + "\n";
                 },
                 0, 120000, "Action ended 10:00:02: RegisterPR. Return value 1.\n");
         }},
        {"30k false conditions, 30k runs",
         [&](const std::string& path) {
             return WriteLog(
                 path, begin,
                 [](int n) {
                     const std::string name = "Action" + std::to_string(n % 30000);
                     if (n < 30000)
                         return "KRVL: " + name + ": (condition is false)\n";
                     return std::string(n == 30000 ? "KRVL: Deferred (Begin): SubmissionEnginePatchRelay\n" : "") +
                            "KRVL: Deferred (Begin): " + name + "\nKRVL: Deferred (End): " + name + "\n";
                 },
                 0, 60000);
         }},
        {"13 MB of repeated trace text",
         [&](const std::string& path) {
             return WriteLog(
                 path, "", [](int n) { return TraceLine(n); }, 0, 200);
         }},
    };
    const std::string path = "log_bench.tmp";
    std::printf("%-32s %7s %8s %8s %8s %9s %11s %10s\n", "shape", "MiB", "wall s", "CPU s", "MiB/s", "peak MiB",
                "x grep wall", "x grep CPU");
    int number = 0;
    for (const auto& shape : shapes) {
        const std::string wanted = std::to_string(++number);
        if (argc > 2 && std::none_of(argv + 2, argv + argc, [&](const char* a) { return wanted == a; }))
            continue;
        if (!shape.write(path)) {
            std::fprintf(stderr, "log_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        FILE* file = std::fopen(path.c_str(), "rb");
        std::fseek(file, 0, SEEK_END);
        const double mib = double(std::ftell(file)) / (1024.0 * 1024.0);
        std::fclose(file);
        const SRun grep = Measure("grep", "-c", "KRVL", path, true);
        const SRun run = Measure("/proc/self/exe", "--read", path.c_str(), "", false);
        const double grepCpu = std::max(grep.cpu, 0.001);
        std::printf("%-32s %7.1f %8.2f %8.2f %8.1f %9.1f %11.1f %10.1f\n", shape.name, mib, run.seconds, run.cpu,
                    mib / std::max(run.cpu, 0.001), double(run.peakKiB) / 1024.0, run.seconds / grep.seconds,
                    run.cpu / grepCpu);
        std::remove(path.c_str());
    }
    return 0;
}
