// Feeds arbitrary bytes to the log command's reader and analysis, which read logs copied from
// customers' machines: the lines must not depend on how the file was cut into pieces, no line
// may hold a line end or exceed the reader's limit, and the report must be written whatever the
// lines say.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "loganalysis.h"
#include "logreader.h"

using namespace inspector;

namespace {

std::vector<std::string> ReadLines(const uint8_t* data, size_t size, size_t piece, SReaderFacts& facts)
{
    std::vector<std::string> lines;
    CLineReader reader([&lines](std::string_view line) { lines.emplace_back(line); });
    for (size_t at = 0; at < size; at += piece)
        reader.Feed(data + at, size - at < piece ? size - at : piece);
    reader.Finish();
    facts = reader.Facts();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SReaderFacts whole;
    SReaderFacts split;
    const std::vector<std::string> lines = ReadLines(data, size, size == 0 ? 1 : size, whole);
    const size_t piece = size == 0 ? 1 : 1 + data[0] % 7;
    Check(ReadLines(data, size, piece, split) == lines);
    Check(whole.form == split.form && whole.cutLine == split.cutLine && whole.cutCharacter == split.cutCharacter);
    Check(whole.lines == lines.size());

    CLogAnalysis analysis;
    for (const std::string& line : lines) {
        Check(line.find('\n') == std::string::npos && line.size() <= CLineReader::MAX_LINE);
        analysis.Add(line);
    }
    analysis.Finish();
    std::ostringstream report;
    analysis.WriteReport(report);
    const std::string text = report.str();
    Check(text.rfind("verdict: ") != std::string::npos);
    for (char c : text)
        Check(c == '\n' || (c >= 0x20 && c < 0x7F));
    return 0;
}
