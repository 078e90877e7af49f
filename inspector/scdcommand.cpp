// "scd": the submission control file SCD.xml, plain or in its enciphered container.
#include <algorithm>
#include <cstring>

#include "command.h"
#include "framework/byteorder.h"
#include "framework/recordstore.h"
#include "platform.h"
#include "text.h"
#include "update/scdcontainer.h"

namespace inspector {

namespace scd = clfs::update::scd;

namespace {

// What the update fails with when the parser refuses the text.
constexpr uint32_t HR_NOT_WELL_FORMED = 0x80004005; // E_FAIL

const char OPTION_OUTPUT[] = "-o";
const char OPTION_ENCIPHER[] = "--encipher";
const char OPTION_IN_PLACE[] = "--in-place";

// Where decoded or enciphered bytes go: a file, or standard output when path is empty.
struct SDestination {
    std::string path;
    std::string Describe() const { return path.empty() ? "standard output" : path; }
};

// The -o and --in-place choice, checked against the input; false after a usage message.
bool ChooseDestination(const SInvocation& invocation, bool required, SDestination& destination, int& status,
                       SConsole& console)
{
    const std::string& input = invocation.operands[0];
    const std::string* output = invocation.Value(OPTION_OUTPUT);
    const bool inPlace = invocation.Has(OPTION_IN_PLACE);
    const char* mistake = nullptr;
    if (output != nullptr && inPlace)
        mistake = "give either -o OUT or --in-place, not both";
    else if (required && output == nullptr && !inPlace)
        mistake = "--encipher needs -o OUT or --in-place";
    else if (output != nullptr && IsSameFile(input, *output))
        mistake = "-o names the input file itself; add --in-place instead to replace it";
    if (mistake != nullptr) {
        status =
            Fail(console, INSPECT_USAGE, "", std::string("scd: ") + mistake + " (see 'submca-inspect scd --help')");
        return false;
    }
    destination.path = inPlace ? input : output != nullptr ? *output : std::string();
    return true;
}

bool Deliver(const SDestination& destination, const std::vector<uint8_t>& bytes, int& status, SConsole& console)
{
    if (destination.path.empty()) {
        console.out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (console.out.flush())
            return true;
        status = Fail(console, INSPECT_IO_ERROR, "", "standard output cannot be written");
        return false;
    }
    std::string reason;
    if (WriteWholeFile(destination.path, bytes, reason))
        return true;
    status = Fail(console, INSPECT_IO_ERROR, destination.path, reason);
    return false;
}

// The module hands the parser the text up to the first zero byte.
void NoteEmbeddedZero(std::ostream& report, const uint8_t* text, size_t size)
{
    const void* zero = std::memchr(text, 0, size);
    if (zero != nullptr) {
        const size_t offset = size_t(static_cast<const uint8_t*>(zero) - text);
        WriteField(report, "note",
                   "a zero byte at content offset " + std::to_string(offset) + " ends the text that the module parses");
    }
}

// "52 8B F0": bytes that need not be text.
std::string HexBytes(const uint8_t* data, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += (i == 0 ? "" : " ") + Hex32(data[i]).substr(8);
    return text;
}

// Why the update's parser cannot take the text (the bytes up to the first zero), where that is
// certain without parsing it: XML begins with '<' after white space (or a UTF-8 byte order mark),
// and allows no control character but tab, line feed and carriage return anywhere. Empty when
// only the parser can tell.
std::string TextFault(const uint8_t* text, size_t size, const char* where)
{
    const size_t length = size_t(std::find(text, text + size, uint8_t(0)) - text);
    size_t start = length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (start < length && (text[start] == ' ' || text[start] == '\t' || text[start] == '\n' || text[start] == '\r'))
        ++start;
    if (start == length)
        return length == size
                   ? "no text"
                   : "no text before the zero byte at " + std::string(where) + " offset " + std::to_string(length);
    if (text[start] != '<')
        return "it does not begin with '<' (" + std::string(where) + " offset " + std::to_string(start) + " holds " +
               HexBytes(text + start, std::min<size_t>(8, length - start)) + ")";
    const auto control =
        std::find_if(text, text + length, [](uint8_t c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; });
    if (control != text + length)
        return "byte " + Escape(control, 1) + " at " + where + " offset " + std::to_string(control - text) +
               " is a character XML does not allow";
    return std::string();
}

// Sixteen bytes that differ from the container magic in a few places only.
bool IsNearMagic(const std::vector<uint8_t>& file)
{
    if (file.size() < scd::SCD_MAGIC_SIZE)
        return false;
    size_t differing = 0;
    for (size_t i = 0; i < scd::SCD_MAGIC_SIZE; ++i)
        differing += file[i] != scd::g_abMagic[i];
    return differing <= 4;
}

// The module reads a file without the whole container header as plain text and hands it to the
// parser; a container cut short or with a damaged magic ends there too.
int ReportPlain(const std::string& path, const std::vector<uint8_t>& file, std::ostream& report, SConsole& console)
{
    const bool cutContainer = file.size() >= scd::SCD_MAGIC_SIZE && scd::HasMagic(file.data());
    const bool damagedMagic = !cutContainer && IsNearMagic(file);
    if (cutContainer)
        WriteField(report, "form",
                   "plain: it begins with the container magic but is shorter than the 40-byte "
                   "header, so the module reads it as plain");
    else
        WriteField(report, "form", "plain (no container magic)");
    if (file.size() >= 4 && InstallToolBox::LoadLe32(file.data()) == InstallToolBox::RECORD_FILE_MAGIC)
        WriteField(report, "note",
                   "it begins with the record-file magic: try 'submca-inspect records " + Escape(path) + "'");
    else if (damagedMagic)
        WriteField(report, "note",
                   "the first 16 bytes are close to the container magic: a container whose magic "
                   "was damaged, which the module can no longer decipher");
    NoteEmbeddedZero(report, file.data(), file.size());
    const std::string fault = TextFault(file.data(), file.size(), "file");
    if (!fault.empty()) {
        const std::string what = cutContainer
                                     ? "a container cut short to " + Bytes(file.size()) + " (its header alone takes 40)"
                                 : damagedMagic ? "a container whose magic was damaged, read as plain text"
                                                : std::string("not XML");
        WriteField(report, "result", "rejected: the update reads it as plain text and fails to parse it");
        return Fail(console, INSPECT_REJECTED, path,
                    what + ": " + fault + "; the update rejects it (" + Hex32(HR_NOT_WELL_FORMED) + ")");
    }
    WriteField(report, "result",
               "nothing to decode; the module reads this file as it is and enciphers it when the update has read "
               "it; whether the update accepts the XML only 'submca-inspect check' tells");
    return INSPECT_OK;
}

// The header fields and what the deciphered body shows beyond the module's own check.
void ReportContainer(const std::vector<uint8_t>& file, std::ostream& report)
{
    const uint8_t* header = file.data();
    const uint32_t length = scd::GetPlainLength(header);
    const uint32_t lengthHigh = InstallToolBox::LoadLe32(header + scd::SCD_LENGTH_OFFSET + 4);
    const size_t body = file.size() - scd::SCD_HEADER_SIZE;
    const size_t whole = body - body % 8;

    WriteField(report, "form", "enciphered container");
    WriteField(report, "magic", GuidText(header) + " (ok)");
    std::string lengthText = std::to_string(length);
    if (length >= 1)
        lengthText += " (content of " + Bytes(length - 1) + " and its terminating zero)";
    else
        lengthText += " (invalid: even an empty content stores its terminating zero)";
    if (lengthHigh != 0)
        lengthText += "; high 32 bits " + Hex32(lengthHigh) + ", which the module ignores";
    WriteField(report, "stored length L", lengthText);
    WriteField(report, "body size P", Bytes(body) + " (file size less the 40-byte header)");
    if (body % 8 == 0)
        WriteField(report, "whole blocks", "yes (" + std::to_string(body / 8) + " blocks of 8 bytes)");
    else
        WriteField(report, "whole blocks",
                   "no (" + std::to_string(body / 8) + " blocks of 8 bytes and " + Bytes(body % 8) +
                       " that stay enciphered)");
    size_t expected = 0;
    const bool expectable = length >= 1 && scd::GetBodySize(length, expected);
    if (length >= 1 && length <= whole) {
        std::string text = "yes (L = " + std::to_string(length) + " fits the " + Bytes(whole) + " of whole blocks";
        if (expectable && expected != body)
            text += "; the module writes P = " + std::to_string(expected) + " for this L";
        WriteField(report, "large enough", text + ")");
    } else if (length >= 1) {
        WriteField(report, "large enough",
                   "no (L = " + std::to_string(length) + " but the whole blocks hold only " + Bytes(whole) + ")");
    }
    if (length < 1 || length > whole)
        return;

    std::vector<uint8_t> deciphered(file.begin() + scd::SCD_HEADER_SIZE, file.end());
    uint8_t key[scd::SCD_KEY_SIZE];
    if (!scd::DecipherDataKey(header, key))
        return;
    const bool keyed = scd::DecipherBody(key, deciphered.data(), deciphered.size());
    scd::ZeroKey(key);
    if (!keyed)
        return;
    if (deciphered[length - 1] == 0)
        WriteField(report, "terminator", "ok (the content ends in a zero byte)");
    else
        WriteField(report, "terminator", "missing: the deciphered content does not end in a zero byte");
    bool zeroFill = true;
    for (size_t i = length; i < whole; ++i)
        zeroFill = zeroFill && deciphered[i] == 0;
    if (deciphered[length - 1] == 0 && !zeroFill)
        WriteField(report, "note", "the fill after the content is not zero (the module ignores it)");
}

const char* DamageReason(const std::vector<uint8_t>& file)
{
    const uint32_t length = scd::GetPlainLength(file.data());
    const size_t body = file.size() - scd::SCD_HEADER_SIZE;
    if (length == 0)
        return "damaged container: the stored length L is 0";
    if (length > body - body % 8)
        return "damaged container: the stored length L is larger than the body";
    return "damaged container: the content does not end in a zero byte (body damaged or enciphered with "
           "another key)";
}

int Decode(const SInvocation& invocation, SConsole& console)
{
    const std::string& path = invocation.operands[0];
    int status = INSPECT_OK;
    SDestination destination;
    if (!ChooseDestination(invocation, false, destination, status, console))
        return status;
    std::vector<uint8_t> file;
    if (!ReadInputFile(console, path, MAX_CONTROL_FILE, file, status))
        return status;

    // Standard output carries the XML unless it goes to a file; the report then moves aside.
    std::ostream& report = destination.path.empty() ? console.err : console.out;
    WriteField(report, "file", Escape(path) + " (" + Bytes(file.size()) + ")");
    if (file.empty())
        return Fail(console, INSPECT_REJECTED, path, "empty file (0 bytes): the module has no content to read");
    if (file.size() < scd::SCD_HEADER_SIZE || !scd::HasMagic(file.data()))
        return ReportPlain(path, file, report, console);

    ReportContainer(file, report);
    std::vector<uint8_t> content;
    switch (scd::ReadContent(file.data(), file.size(), content)) {
    case scd::SCD_READ_DECIPHERED:
        break;
    case scd::SCD_READ_EMPTY:
        return Fail(console, INSPECT_REJECTED, path,
                    "enciphered container without a body: the module fails to read it");
    case scd::SCD_READ_DAMAGED:
        return Fail(console, INSPECT_REJECTED, path, std::string(DamageReason(file)) + "; the module refuses it");
    case scd::SCD_READ_KEY_FAILED:
        return Fail(console, INSPECT_IO_ERROR, path, "the cipher could not be keyed");
    default:
        return Fail(console, INSPECT_IO_ERROR, path, "out of memory");
    }
    // The content ends with the zero byte that the module adds to the plain file.
    content.pop_back();
    NoteEmbeddedZero(report, content.data(), content.size());
    const std::string fault = TextFault(content.data(), content.size(), "content");
    if (!fault.empty())
        return Fail(console, INSPECT_REJECTED, path,
                    "the deciphered content is not XML: " + fault +
                        "; the body was damaged or altered, and the update rejects it (" + Hex32(HR_NOT_WELL_FORMED) +
                        ")");
    // The module ignores what follows the first zero byte, but a terminal would act on it.
    size_t length = 0;
    const size_t control = FindTerminalControl(content.data(), content.size(), &length);
    if (destination.path.empty() && control != content.size())
        return Fail(console, INSPECT_IO_ERROR, path,
                    "the content holds " + Escape(content.data() + control, length) + " at content offset " +
                        std::to_string(control) +
                        ", a control that a terminal does not show as text; it is not written to standard output "
                        "(give -o OUT to save it)");
    WriteField(report, "integrity",
               "not checked: the container carries no checksum, so an altered body deciphers to other "
               "bytes without notice; only 'submca-inspect check' tells whether the update accepts them");
    if (!Deliver(destination, content, status, console))
        return status;
    WriteField(report, "content", Bytes(content.size()) + " of plain text written to " + destination.Describe());
    return INSPECT_OK;
}

int Encipher(const SInvocation& invocation, SConsole& console)
{
    const std::string& path = invocation.operands[0];
    int status = INSPECT_OK;
    SDestination destination;
    if (!ChooseDestination(invocation, true, destination, status, console))
        return status;
    std::vector<uint8_t> content;
    if (!ReadInputFile(console, path, MAX_CONTROL_FILE, content, status))
        return status;

    std::ostream& report = console.out;
    WriteField(report, "file", Escape(path) + " (" + Bytes(content.size()) + ")");
    if (content.empty())
        return Fail(console, INSPECT_REJECTED, path, "empty file: the module does not encipher an empty control file");
    if (content.size() >= scd::SCD_HEADER_SIZE && scd::HasMagic(content.data()))
        return Fail(console, INSPECT_REJECTED, path, "already enciphered: the module leaves such a file as it is");

    // The container holds the plain file and one zero byte.
    content.push_back(0);
    uint8_t key[scd::SCD_KEY_SIZE];
    std::string reason;
    if (!GetRandomBytes(key, sizeof(key), reason))
        return Fail(console, INSPECT_IO_ERROR, "", "no random data key: " + reason);
    std::vector<uint8_t> file;
    const bool built = scd::BuildFile(content.data(), content.size(), key, file);
    scd::ZeroKey(key);
    if (!built)
        return Fail(console, INSPECT_IO_ERROR, path, "cannot be enciphered (too large or out of memory)");
    if (!Deliver(destination, file, status, console))
        return status;
    const size_t body = file.size() - scd::SCD_HEADER_SIZE;
    WriteField(report, "form", "enciphered container written to " + destination.Describe());
    WriteField(report, "stored length L",
               std::to_string(content.size()) + " (content of " + Bytes(content.size() - 1) +
                   " and its terminating zero)");
    WriteField(report, "body size P", Bytes(body) + " (" + Bytes(body - content.size()) + " of zero fill)");
    WriteField(report, "file size", Bytes(file.size()));
    return INSPECT_OK;
}

int RunScd(const SInvocation& invocation, SConsole& console)
{
    return invocation.Has(OPTION_ENCIPHER) ? Encipher(invocation, console) : Decode(invocation, console);
}

} // namespace

const SCommand g_scdCommand = {
    "scd",
    "decode the submission control file SCD.xml, or encipher a plain one",
    "scd FILE [-o OUT | --in-place]\n"
    "scd --encipher FILE (-o OUT | --in-place)",
    "Reads the submission control file SCD.xml from the engine's data folder (the folder in the\n"
    "InstalledApps value ORBSubmissionEngineData). The update leaves it in an enciphered\n"
    "container: a 40-byte header (magic {D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}, the enciphered\n"
    "data key, the stored length L) and the enciphered body of P bytes.\n"
    "\n"
    "For a container it reports the header fields: the magic, L (the plain file's size plus its\n"
    "terminating zero), P, whether P is whole 8-byte blocks and large enough for L, and whether\n"
    "the deciphered content ends in its zero byte. It then writes the plain XML to standard output\n"
    "(the report goes to standard error) or to OUT (the report goes to standard output). A damaged\n"
    "container that the module refuses gives exit status 1 and no content. Content with a control\n"
    "character anywhere (one a terminal would act on) goes only to OUT: without -o it gives exit\n"
    "status 3 and a line naming the character. For a plain file it says so and writes nothing.\n"
    "\n"
    "With --encipher it puts a plain file into the container as the module does, with a fresh\n"
    "random 16-byte data key. The input is never overwritten unless --in-place is given.\n"
    "\n"
    "Examples:\n"
    "  submca-inspect scd SCD.xml > plain.xml\n"
    "  submca-inspect scd SCD.xml -o plain.xml\n"
    "  submca-inspect scd --encipher plain.xml -o SCD.xml\n",
    {
        {OPTION_OUTPUT, "OUT", "write the decoded or enciphered file to OUT (never the input itself)"},
        {OPTION_IN_PLACE, nullptr, "replace FILE with the result"},
        {OPTION_ENCIPHER, nullptr, "encipher the plain FILE instead of decoding it"},
    },
    1,
    1,
    RunScd,
};

} // namespace inspector
