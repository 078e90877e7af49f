// Throughput of "submca-inspect log" on a generated verbose installer log, 8-bit and UTF-16LE:
// the file is read piece by piece through the line reader into the analysis, as the command does.
// Prints MB/s and the peak resident memory, which must not grow with the log's size.
//
//   log_bench [MiB]     (default 256)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "loganalysis.h"
#include "logreader.h"
#include "platform.h"

namespace {

// One installation's worth of lines: the installer's own chatter around the module's calls.
std::string Block(int n)
{
    std::string block;
    for (int i = 0; i < 40; ++i)
        block += "MSI (s) (F4:A8) [10:00:00:" + std::to_string(i) + "]: Component: Comp" + std::to_string(n) + "_" +
                 std::to_string(i) + "; Installed: Absent;   Request: Local;   Action: Local\n";
    block += "Action start 10:00:01: RegisterPR.\nKRVL: Scheduling (Begin): SubmissionEnginePatchRelay\n"
             "KRVL: Scheduling (End): SubmissionEnginePatchRelay\nAction ended 10:00:01: RegisterPR. Return value 1.\n"
             "Action start 10:00:02: UpdateQSN.\nKRVL (Error): Failed to update QSN config: 0x80070002\n"
             "Action ended 10:00:02: UpdateQSN. Return value 1.\n";
    for (int i = 0; i < 20; ++i)
        block += "Property(S): PROPERTY" + std::to_string(i) + " = C:\\Program Files\\Korvalin\\Submission\\\n";
    return block;
}

bool WriteLog(const std::string& path, size_t bytes, bool utf16)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    if (utf16)
        std::fputs("\xFF\xFE", file);
    size_t written = 0;
    for (int n = 0; written < bytes; ++n) {
        std::string block = Block(n);
        if (utf16) {
            std::string wide(block.size() * 2, '\0');
            for (size_t i = 0; i < block.size(); ++i)
                wide[2 * i] = block[i];
            block.swap(wide);
        }
        written += std::fwrite(block.data(), 1, block.size(), file);
    }
    return std::fclose(file) == 0;
}

long PeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t mib = argc > 1 ? size_t(std::atol(argv[1])) : 256;
    const std::string path = "log_bench.tmp";
    std::printf("%-28s %10s %10s %14s\n", "log", "MiB", "MiB/s", "peak RSS KiB");
    for (bool utf16 : {false, true}) {
        if (!WriteLog(path, mib << 20, utf16)) {
            std::fprintf(stderr, "log_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        inspector::CLogAnalysis analysis;
        inspector::CLineReader reader([&analysis](const std::string& line) { analysis.Add(line); });
        std::string reason;
        if (!inspector::ReadFileInPieces(
                path, [&reader](const uint8_t* data, size_t size) { return reader.Feed(data, size); }, reason))
            return 1;
        reader.Finish();
        analysis.Finish();
        std::ostringstream report;
        analysis.WriteReport(report);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double size = double(reader.Facts().bytes) / (1024.0 * 1024.0);
        std::printf("%-28s %10.0f %10.1f %14ld\n", utf16 ? "verbose log, UTF-16LE" : "verbose log, 8-bit", size,
                    size / seconds, PeakKiB());
        std::remove(path.c_str());
    }
    return 0;
}
