// What hostile files cost submca-inspect: each input is generated, then the command runs on it in
// a child process of its own, so that the peak resident memory printed is that command's alone.
// The inputs are the shapes that cost the most per byte: one element with 80,000 attributes, a
// control file whose one long "type" every other control is compared with, a record file of 4 MiB
// listed with --force, and 16 MiB of empty elements.
//
//   inspector_bench [FOLDER]     (default: the current folder)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "framework/blowfish.h"
#include "framework/byteorder.h"
#include "framework/recordstore.h"
#include "inspector.h"

namespace {

using namespace InstallToolBox;

// Drops the reports: only the work of making them is measured.
class CNullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

std::string ManyAttributes()
{
    std::string text = "<scd";
    for (int i = 0; i < 80000; ++i)
        text += " a" + std::to_string(i) + "=\"1\"";
    return text + "/>";
}

std::string Control(const std::string& type, int component)
{
    char number[8];
    std::snprintf(number, sizeof(number), "%05d", component);
    return "<control type=\"" + type + "\" component=\"c" + number +
           "\" componentversion=\"1\"><server port=\"443\" proto=\"https\">s.example.com</server>"
           "<probability>1</probability><dailyLimit>1</dailyLimit><retryLimitDays>1</retryLimitDays>"
           "<retryFrequencyMinHours>1</retryFrequencyMinHours></control>\n";
}

// The long type sorts after every other control and the others come in ascending order, so each
// insertion into the ordered set meets it.
std::string LongType()
{
    std::string text = "<scd><controlSettings scdSequence=\"1\"/><product scdVersion=\"1.0\" product=\"P\" "
                       "productversion=\"1\">\n" +
                       Control(std::string(1 << 20, 'Z'), 0);
    for (int i = 1; i <= 4000; ++i)
        text += Control("Submission", i);
    return text + "</product></scd>\n";
}

// Records of distinct names, enciphered as the store reads them; the digest is not checked for a
// file of this size, which is why --force lists it.
std::string ManyRecords()
{
    CBlowfish cipher;
    if (!cipher.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE))
        return std::string();
    const size_t count = (4 * 1024 * 1024 - RECORD_HEADER_SIZE) / (RECORD_HEAD_SIZE + 8);
    std::vector<uint8_t> file(RECORD_HEADER_SIZE + count * (RECORD_HEAD_SIZE + 8), 0);
    StoreLe32(file.data(), RECORD_FILE_MAGIC);
    StoreLe32(file.data() + 4, RECORD_FILE_VERSION);
    StoreLe32(file.data() + 8, uint32_t(count));
    for (size_t i = 0; i < count; ++i) {
        uint8_t* record = file.data() + RECORD_HEADER_SIZE + i * (RECORD_HEAD_SIZE + 8);
        const std::string name = "Value" + std::to_string(i);
        std::memcpy(record, name.c_str(), name.size());
        StoreLe32(record + 32, RECORD_TYPE_DWORD);
        StoreLe32(record + 36, 8);
        StoreLe32(record + 40, uint32_t(i));
        cipher.Encipher(record, RECORD_HEAD_SIZE + 8);
    }
    return std::string(file.begin(), file.end());
}

std::string EmptyElements()
{
    const size_t count = (16 * 1024 * 1024 - 7) / 4;
    std::string text = "<r>";
    text.reserve(16 * 1024 * 1024);
    for (size_t i = 0; i < count; ++i)
        text += "<a/>";
    return text + "</r>";
}

struct SCase {
    const char* label;
    const char* command;
    const char* option;
    std::string (*make)();
};

// Runs the command in a child; false when it could not be run.
bool Measure(const SCase& c, const std::string& path, double& seconds, long& peakKiB, int& status)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        CNullBuffer sink;
        std::ostream null(&sink);
        inspector::SConsole console{null, null};
        std::vector<std::string> arguments = {c.command, path};
        if (c.option != nullptr)
            arguments.push_back(c.option);
        _exit(inspector::Run(arguments, console));
    }
    int wait = 0;
    rusage usage{};
    if (wait4(child, &wait, 0, &usage) != child || !WIFEXITED(wait))
        return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakKiB = usage.ru_maxrss;
    status = WEXITSTATUS(wait);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    const SCase cases[] = {
        {"80,000 attributes", "check", nullptr, ManyAttributes},
        {"1 MiB type, 4,000 controls", "check", nullptr, LongType},
        {"4 MiB record file, --force", "records", "--force", ManyRecords},
        {"16 MiB of <a/>", "check", nullptr, EmptyElements},
    };
    std::printf("%-30s %-8s %10s %10s %14s %7s\n", "input", "command", "KiB", "seconds", "peak RSS KiB", "status");
    for (const SCase& c : cases) {
        const std::string content = c.make();
        const std::string path = folder + "/inspector_bench.tmp";
        if (content.empty() ||
            !std::ofstream(path, std::ios::binary).write(content.data(), std::streamsize(content.size()))) {
            std::fprintf(stderr, "inspector_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        double seconds = 0;
        long peak = 0;
        int status = 0;
        const bool measured = Measure(c, path, seconds, peak, status);
        std::remove(path.c_str());
        if (!measured) {
            std::fprintf(stderr, "inspector_bench: the command on \"%s\" did not end normally\n", c.label);
            return 1;
        }
        std::printf("%-30s %-8s %10zu %10.2f %14ld %7d\n", c.label, c.command, content.size() / 1024, seconds, peak,
                    status);
    }
    return 0;
}
