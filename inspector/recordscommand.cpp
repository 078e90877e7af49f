// "records": the framework's record files (install options data) in the temporary folder.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "command.h"
#include "framework/blowfish.h"
#include "framework/byteorder.h"
#include "framework/recordstore.h"
#include "platform.h"
#include "recordmeaning.h"
#include "text.h"
#include "update/scdcontainer.h"

namespace inspector {

namespace {

using namespace InstallToolBox;

const char OPTION_FORCE[] = "--force";
const char PROPERTY_FILE_NAME[] = "krvlprop.dat";

// A record as listed: in file order, where it starts, and the store's view of it.
struct SEntry {
    size_t offset;
    std::string name; // the name field up to its terminator, or all 32 bytes without one
    bool nameTerminated;
    CRecordStore::SRecordView view;
    size_t twin; // the next record in the file with the same name and type, or NO_TWIN
};

constexpr size_t NO_TWIN = SIZE_MAX;

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The driver saves its own condition after those of its actions, and the store writes the
// newest record first: the first condition record in the file names the sequence.
std::string SequenceNameOf(const std::vector<SEntry>& entries)
{
    for (const SEntry& entry : entries) {
        uint32_t direction = 0;
        std::string action;
        if (entry.nameTerminated && ParseConditionKey(entry.name, direction, action))
            return action;
    }
    return std::string();
}

// The store lists newest first, which is the reverse of the file it was loaded from.
std::vector<SEntry> ToFileOrder(const std::vector<CRecordStore::SRecordView>& views)
{
    std::vector<SEntry> entries;
    size_t offset = RECORD_HEADER_SIZE;
    for (auto view = views.rbegin(); view != views.rend(); ++view) {
        const char* field = reinterpret_cast<const char*>(view->pbName);
        const void* terminator = std::memchr(field, 0, RECORD_NAME_SIZE);
        const size_t length = terminator ? size_t(static_cast<const char*>(terminator) - field) : RECORD_NAME_SIZE;
        entries.push_back({offset, std::string(field, length), terminator != nullptr, *view, NO_TWIN});
        offset += RECORD_HEAD_SIZE + view->cbData;
    }
    // From the end, so each record meets the nearest later one of its name and type: one pass
    // however many records a forged file holds.
    std::map<std::pair<std::string, uint32_t>, size_t> nearest;
    for (size_t index = entries.size(); index-- > 0;) {
        SEntry& entry = entries[index];
        if (!entry.nameTerminated)
            continue;
        size_t& later = nearest.emplace(std::make_pair(entry.name, entry.view.dwType), NO_TWIN).first->second;
        entry.twin = later;
        later = index;
    }
    return entries;
}

SRecordFacts FactsOf(const SEntry& entry)
{
    SRecordFacts facts;
    facts.name = entry.name;
    facts.type = entry.view.dwType;
    if (facts.type == RECORD_TYPE_DWORD)
        facts.value = LoadLe32(entry.view.pbData);
    else if (facts.type == RECORD_TYPE_STRING)
        facts.text = reinterpret_cast<const char*>(entry.view.pbData);
    return facts;
}

SFileFacts FileFactsOf(const std::vector<SEntry>& entries)
{
    SFileFacts facts;
    facts.sequenceName = SequenceNameOf(entries);
    for (const SEntry& entry : entries) {
        uint32_t index = 0;
        facts.propertyFile = facts.propertyFile || IsPropertyFileEntry(entry.name);
        // The framework's lookup takes the first name entry of an index, in list order: the
        // last one in the file.
        if (entry.view.dwType == RECORD_TYPE_STRING && ParseLongPropertyKey(entry.name, "Name", index))
            facts.longNames[index] = reinterpret_cast<const char*>(entry.view.pbData);
    }
    return facts;
}

enum FileKind { KIND_NONE, KIND_SEQUENCE, KIND_PROPERTY, KIND_BOTH };

FileKind KindOf(const std::vector<SEntry>& entries)
{
    bool sequence = false;
    bool property = false;
    for (const SEntry& entry : entries) {
        sequence = sequence || IsSequenceEntry(entry.name);
        property = property || IsPropertyFileEntry(entry.name);
    }
    return sequence && property ? KIND_BOTH : sequence ? KIND_SEQUENCE : property ? KIND_PROPERTY : KIND_NONE;
}

std::string DescribeKind(FileKind kind, const SFileFacts& facts)
{
    switch (kind) {
    case KIND_BOTH:
        return "record file with both driver and property-file entries";
    case KIND_SEQUENCE:
        return "per-sequence data file of the custom action driver" +
               (facts.sequenceName.empty() ? std::string() : " (sequence \"" + Escape(facts.sequenceName) + "\")");
    case KIND_PROPERTY:
        return "shared property file of actions with properties";
    default:
        return "record file without entries of the framework";
    }
}

// The framework opens its files by name only: a copy or a renamed file is one it never reads.
std::string NameHint(FileKind kind, const SFileFacts& facts, const std::string& path)
{
    const std::string name = BaseName(path);
    std::string expected;
    if (kind == KIND_SEQUENCE && !facts.sequenceName.empty())
        expected = facts.sequenceName + ".dat";
    else if (kind == KIND_PROPERTY)
        expected = PROPERTY_FILE_NAME;
    if (!expected.empty() && !EqualsIgnoringCase(name, expected))
        return "the framework reads this file only as \"" + Escape(expected) + "\" in the temporary folder, not as \"" +
               Escape(name) + "\"";
    if (kind != KIND_PROPERTY && kind != KIND_BOTH && EqualsIgnoringCase(name, PROPERTY_FILE_NAME))
        return "named like the shared property file, but it holds none of that file's own entries";
    return std::string();
}

std::string Quote(const uint8_t* text)
{
    return "\"" + Escape(text, std::strlen(reinterpret_cast<const char*>(text))) + "\"";
}

std::string ShownName(const SEntry& entry)
{
    return Escape(entry.name);
}

// The data size the module writes for a content of the given length.
uint32_t ModuleDataSize(size_t contentSize)
{
    return uint32_t(contentSize + 8 - contentSize % 8);
}

bool IsZero(const uint8_t* data, size_t size)
{
    return std::all_of(data, data + size, [](uint8_t b) { return b == 0; });
}

// What the module would not have written this way; the lookups still work as listed.
std::vector<std::string> NotesOn(const std::vector<SEntry>& entries, size_t index)
{
    const SEntry& entry = entries[index];
    const CRecordStore::SRecordView& view = entry.view;
    std::vector<std::string> notes;
    if (!entry.nameTerminated)
        notes.push_back("the name field has no terminator: the module's lookups never find this record");
    size_t content = 0;
    if (view.dwType == RECORD_TYPE_STRING)
        content = std::strlen(reinterpret_cast<const char*>(view.pbData)) + 1;
    else if (view.dwType == RECORD_TYPE_DWORD)
        content = 4;
    if (content != 0) {
        if (view.cbData != ModuleDataSize(content))
            notes.push_back("data size " + std::to_string(view.cbData) + ", where the module writes " +
                            std::to_string(ModuleDataSize(content)) + " for this value");
        if (!IsZero(view.pbData + content, view.cbData - content))
            notes.push_back("the fill after the value is not zero");
    }
    if (entry.twin != NO_TWIN)
        notes.push_back("not what the module reads: record " + std::to_string(entry.twin + 1) +
                        " has the same name and type and comes later in the file");
    return notes;
}

void WriteRecord(std::ostream& out, const std::vector<SEntry>& entries, size_t index, const SFileFacts& facts)
{
    const SEntry& entry = entries[index];
    const CRecordStore::SRecordView& view = entry.view;
    const std::string head = "[" + std::to_string(index + 1) + "] offset " + std::to_string(entry.offset) + ", ";
    if (view.dwType == RECORD_TYPE_DWORD) {
        out << head << "32-bit value: " << ShownName(entry) << " = " << DecimalAndHex(LoadLe32(view.pbData)) << '\n';
    } else if (view.dwType == RECORD_TYPE_STRING) {
        out << head << "string: " << ShownName(entry) << " = " << Quote(view.pbData) << '\n';
    } else {
        out << head << "type " << view.dwType << " (unknown to the module, kept unchanged), " << Bytes(view.cbData)
            << ": " << ShownName(entry) << '\n';
        WriteHexRows(out, "      ", view.pbData, view.cbData);
    }
    if (entry.nameTerminated && (view.dwType == RECORD_TYPE_DWORD || view.dwType == RECORD_TYPE_STRING)) {
        const std::string meaning = ExplainRecord(FactsOf(entry), facts);
        if (!meaning.empty())
            out << "    -> " << meaning << '\n';
    }
    for (const std::string& note : NotesOn(entries, index))
        out << "    note: " << note << '\n';
}

// Why the record after the listed ones could not be read, told from its bytes in the file.
std::string WhyRecordFailed(const std::vector<uint8_t>& file, size_t offset)
{
    const size_t left = file.size() - offset;
    if (left < RECORD_HEAD_SIZE)
        return "cut short: " + Bytes(left) + " left for its 40-byte head";
    CBlowfish cipher;
    if (!cipher.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE))
        return "cannot be read";
    uint8_t head[RECORD_HEAD_SIZE];
    std::memcpy(head, file.data() + offset, sizeof(head));
    cipher.Decipher(head, sizeof(head));
    const uint32_t type = LoadLe32(head + 32);
    const uint32_t dataSize = LoadLe32(head + 36);
    const std::string declared = "its head declares " + Bytes(dataSize) + " of data";
    if (dataSize % 8 != 0)
        return "malformed: " + declared + ", not whole 8-byte blocks";
    if (dataSize > RECORD_MAX_DATA)
        return "malformed: " + declared + ", more than the " + std::to_string(RECORD_MAX_DATA) + " any value takes";
    if (left - RECORD_HEAD_SIZE < dataSize)
        return "cut short: " + declared + " but only " + Bytes(left - RECORD_HEAD_SIZE) + " follow";
    if (type == RECORD_TYPE_STRING)
        return "malformed: a string whose data holds no terminator";
    return "malformed: a 32-bit value with " + Bytes(dataSize) + " of data";
}

int RunRecords(const SInvocation& invocation, SConsole& console)
{
    const std::string& path = invocation.operands[0];
    const bool force = invocation.Has(OPTION_FORCE);
    std::vector<uint8_t> file;
    std::string reason;
    bool tooLarge = false;
    const std::string missing = "; the module treats the file as missing";
    // Beyond what the tool lists the module's verdict is still known: it verifies far less.
    if (!ReadWholeFile(path, MAX_RECORD_FILE, file, reason, &tooLarge))
        return tooLarge ? Fail(console, INSPECT_REJECTED, path,
                               "larger than " + std::to_string(MAX_RECORD_FILE) +
                                   " bytes: the module verifies record files of at most " +
                                   std::to_string(RECORD_MAX_FILE_SIZE) + " bytes" + missing +
                                   "; this tool lists none that large, even with --force (a limit of the tool)")
                        : Fail(console, INSPECT_IO_ERROR, path, reason);

    std::ostream& out = console.out;
    WriteField(out, "file", Escape(path) + " (" + Bytes(file.size()) + ")");
    if (file.empty())
        return Fail(console, INSPECT_REJECTED, path, "empty file (0 bytes), not a record file" + missing);
    if (file.size() >= clfs::update::scd::SCD_HEADER_SIZE && clfs::update::scd::HasMagic(file.data()))
        return Fail(console, INSPECT_REJECTED, path,
                    "this is an enciphered SCD.xml container, not a record file: use 'submca-inspect scd " +
                        Escape(path) + "'");
    if (file.size() < RECORD_HEADER_SIZE)
        return Fail(console, INSPECT_REJECTED, path,
                    "too short for a record file: " + Bytes(file.size()) + ", the header alone takes 28" + missing);
    const uint32_t magic = LoadLe32(file.data());
    if (magic != RECORD_FILE_MAGIC) {
        WriteField(out, "magic", Hex32(magic) + " (a record file has " + Hex32(RECORD_FILE_MAGIC) + ")");
        return Fail(console, INSPECT_REJECTED, path, "not a record file: wrong magic number" + missing);
    }
    WriteField(out, "magic", Hex32(magic) + " (ok)");
    const uint32_t version = LoadLe32(file.data() + 4);
    WriteField(out, "version",
               version == RECORD_FILE_VERSION
                   ? "1 (ok)"
                   : std::to_string(version) + " (the module writes 1 and does not check it)");
    const uint32_t count = LoadLe32(file.data() + 8);
    WriteField(out, "count", std::to_string(count) + (count == 1 ? " record" : " records"));

    CRecordStore store;
    if (store.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE) != RS_SUCCESS)
        return Fail(console, INSPECT_IO_ERROR, path, "the cipher could not be keyed");
    int status = store.Load(file.data(), file.size(), true);
    bool rejected = false;
    if (file.size() > RECORD_MAX_FILE_SIZE) {
        WriteField(out, "digest",
                   "not checked: the module verifies files of at most " + std::to_string(RECORD_MAX_FILE_SIZE) +
                       " bytes and treats larger ones as missing");
        rejected = true;
    } else if (status == RS_BAD_CHECKSUM) {
        WriteField(out, "digest", "MISMATCH: the file was changed or damaged after the module wrote it");
        rejected = true;
    } else {
        WriteField(out, "digest", "ok");
    }
    if (rejected && !force)
        return Fail(console, INSPECT_REJECTED, path,
                    (file.size() > RECORD_MAX_FILE_SIZE ? "too large to verify" : std::string("digest mismatch")) +
                        missing + " (add --force to list what can be read)");
    if (rejected)
        status = store.Load(file.data(), file.size(), false);
    if (status == RS_OUT_OF_MEMORY)
        return Fail(console, INSPECT_IO_ERROR, path, "out of memory");

    std::vector<CRecordStore::SRecordView> views;
    if (!store.GetRecords(views))
        return Fail(console, INSPECT_IO_ERROR, path, "out of memory");
    const std::vector<SEntry> entries = ToFileOrder(views);
    const SFileFacts facts = FileFactsOf(entries);
    const FileKind kind = KindOf(entries);
    WriteField(out, "kind", DescribeKind(kind, facts));
    const std::string hint = NameHint(kind, facts, path);
    if (!hint.empty())
        WriteField(out, "name", hint);
    out << '\n';
    for (size_t i = 0; i < entries.size(); ++i)
        WriteRecord(out, entries, i, facts);
    if (entries.empty() && status == RS_SUCCESS)
        out << "(no records)\n";

    const size_t end =
        entries.empty() ? RECORD_HEADER_SIZE : entries.back().offset + RECORD_HEAD_SIZE + entries.back().view.cbData;
    if (status == RS_BAD_FORMAT)
        return Fail(console, INSPECT_REJECTED, path,
                    "record " + std::to_string(entries.size() + 1) + " of " + std::to_string(count) + " at offset " +
                        std::to_string(end) + " is " + WhyRecordFailed(file, end) + missing);
    if (end < file.size())
        out << "note: " << Bytes(file.size() - end) << " after the last record, which the module does not read\n";
    if (rejected)
        return Fail(console, INSPECT_REJECTED, path, "listed despite the failed check" + missing);
    return INSPECT_OK;
}

} // namespace

const SCommand g_recordsCommand = {
    "records",
    "list the records of a framework record file (SUB_PR_Action.dat, krvlprop.dat)",
    "records FILE [--force]",
    "Reads a record file that the module's custom action framework keeps in the temporary\n"
    "folder between installer phases: the per-sequence data file named after the sequence\n"
    "(SUB_PR_Action.dat for the updater registration) and the shared property file\n"
    "krvlprop.dat. It shows the header (magic 0xFE56524B, version, record count), checks the\n"
    "MD5 digest as the module does, and lists every record in file order with its offset, type,\n"
    "name and value: strings in double quotes (bytes outside printable ASCII as \\xNN), 32-bit\n"
    "values in decimal and hex, records of unknown types as hex bytes. Records that the\n"
    "framework itself writes get a line starting with \"->\" that says what they mean.\n"
    "\n"
    "The kind of file and the sequence's name are told from the records (the driver's\n"
    "\"Install\" and \"COND\" entries, the property file's \"UC:PROP_COUNT\" and \"CAWPROP\"), not\n"
    "from the file name. A line \"name:\" says when the framework would not find the file under\n"
    "its present name (a copy, a renamed file).\n"
    "\n"
    "A file that the module would treat as missing (too short, wrong magic, digest mismatch,\n"
    "a record cut short) gives exit status 1. On a digest mismatch nothing is listed unless\n"
    "--force is given.\n"
    "\n"
    "Example:\n"
    "  submca-inspect records %TEMP%\\SUB_PR_Action.dat\n"
    "lists, when the condition of an action named Probe was false at scheduling:\n"
    "  [2] offset 76, 32-bit value: COND1:Probe = 0 (0x00000000)\n"
    "      -> condition false at scheduling: \"Probe\" is skipped in the later phases (installing)\n",
    {
        {OPTION_FORCE, nullptr, "list what can be read even when the digest does not match"},
    },
    1,
    1,
    RunRecords,
};

} // namespace inspector
