// "check": reads a control file (plain, or enciphered and deciphered first) the way the update
// loads it, and says which configurations it would make or why it would reject the file.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <set>

#include "command.h"
#include "platform.h"
#include "text.h"
#include "update/scdcontainer.h"
#include "xmlreader.h"

namespace inspector {

namespace scd = clfs::update::scd;

namespace {

constexpr uint32_t HR_NOT_FOUND = 0x80070490; // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
constexpr uint32_t HR_FAIL = 0x80004005;      // E_FAIL
constexpr uint32_t HR_INVALID_ARG = 0x80070057;
constexpr uint32_t HR_NO_DATA = 0x800700E8;      // HRESULT_FROM_WIN32(ERROR_NO_DATA): no content
constexpr uint32_t HR_FILE_CORRUPT = 0x80070570; // HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)

const char REQUIRED_VERSION[] = "1.0";
const char DEFAULT_PROTO[] = "https";
// The submission types the module has a configuration row for.
const char* const KNOWN_TYPES[] = {"Submission", "Detection"};

// What the update ends with when it refuses the file. hresult 0 when the rules name none.
struct SRejection {
    std::string reason;
    uint32_t hresult = 0;
};

struct SRecord {
    std::string type, product, productversion, component, componentversion;
    // The five key fields in UTF-16, converted once: the set compares them again and again.
    std::array<std::u16string, 5> key;
    std::string server, proto;
    uint32_t port = 0;
    uint32_t probability = 0, dailyLimit = 0, retryLimitDays = 0, retrySeconds = 0;
};

// The reader has checked the text as UTF-8, so every sequence here is well formed.
std::u16string ToUtf16(const std::string& text)
{
    std::u16string units;
    for (size_t i = 0; i < text.size();) {
        const uint8_t first = uint8_t(text[i]);
        const size_t length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
        uint32_t c = length == 1 ? first : length == 2 ? first & 0x1F : length == 3 ? first & 0x0F : first & 0x07;
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            c = (c << 6) | (uint8_t(text[i + k]) & 0x3F);
        i += length;
        if (c >= 0x10000) {
            c -= 0x10000;
            units += char16_t(0xD800 + (c >> 10));
            units += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            units += char16_t(c);
        }
    }
    return units;
}

// The set's key: field by field, code unit by code unit, a prefix before the longer string.
struct SKeyLess {
    bool operator()(const SRecord& a, const SRecord& b) const { return a.key < b.key; }
};

bool IsKnownType(const std::string& type)
{
    return std::any_of(std::begin(KNOWN_TYPES), std::end(KNOWN_TYPES),
                       [&](const char* known) { return type == known; });
}

bool IsXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Element text as the parser hands it out with white space not preserved.
std::string Trimmed(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsXmlSpace(text[begin]))
        ++begin;
    while (end > begin && IsXmlSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// A signed 32-bit decimal number, as the update's conversion of a child's text accepts it.
bool ParseDecimal(const std::string& text, int32_t& value)
{
    const std::string digits = Trimmed(text);
    size_t i = 0;
    const bool negative = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
        ++i;
    if (i == digits.size())
        return false;
    int64_t magnitude = 0;
    for (; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return false;
        magnitude = magnitude * 10 + (digits[i] - '0');
        if (magnitude > int64_t(INT32_MAX) + 1)
            return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX)
        return false;
    value = int32_t(signedValue);
    return true;
}

// The number at the start of the text, as _wtol reads it: white space, a sign, digits, anything
// after them ignored, no digits giving 0; beyond the range of a long it stops at the limit.
int32_t WideToLong(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - '0'), int64_t(INT32_MAX) + 1);
    const int64_t value = negative ? -magnitude : magnitude;
    return int32_t(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value)));
}

class CLoader {
public:
    explicit CLoader(std::ostream& out) : m_out(out) {}

    bool Load(const xml::SElement& root, SRejection& rejection);

    const std::set<SRecord, SKeyLess>& Records() const { return m_records; }

private:
    bool Reject(SRejection& rejection, const std::string& reason, uint32_t hresult)
    {
        rejection = {reason, hresult};
        return false;
    }
    // An attribute that must be present and non-empty.
    bool GetAttribute(const xml::SElement& element, const std::string& where, const char* name, std::string& value,
                      SRejection& rejection);
    bool GetDword(const xml::SElement& control, const std::string& where, const char* child, uint32_t& value,
                  SRejection& rejection);
    bool LoadRecord(const xml::SElement& control, const std::string& where, SRecord& record, SRejection& rejection);
    void Note(const std::string& text) { m_out << "note: " << text << '\n'; }

    std::ostream& m_out;
    std::set<SRecord, SKeyLess> m_records;
};

bool CLoader::GetAttribute(const xml::SElement& element, const std::string& where, const char* name, std::string& value,
                           SRejection& rejection)
{
    const std::string* found = element.Attribute(name);
    if (found == nullptr)
        return Reject(rejection, where + " has no \"" + name + "\" attribute", HR_NOT_FOUND);
    if (found->empty())
        return Reject(rejection, where + " has an empty \"" + name + "\" attribute", HR_FAIL);
    value = *found;
    return true;
}

bool CLoader::GetDword(const xml::SElement& control, const std::string& where, const char* child, uint32_t& value,
                       SRejection& rejection)
{
    const xml::SElement* element = control.Child(child);
    if (element == nullptr)
        return Reject(rejection, where + " has no \"" + child + "\" child", 0);
    const std::string text = element->Text();
    int32_t number;
    if (!ParseDecimal(text, number))
        return Reject(rejection,
                      where + ": the \"" + child + "\" text " + Quoted(text) + " is not a decimal number of 32 bits",
                      0);
    value = uint32_t(number);
    return true;
}

// The steps in the update's order, so the first problem reported is the one it stops at.
bool CLoader::LoadRecord(const xml::SElement& control, const std::string& where, SRecord& record, SRejection& rejection)
{
    if (!GetAttribute(control, where, "type", record.type, rejection) ||
        !GetAttribute(control, where, "component", record.component, rejection) ||
        !GetAttribute(control, where, "componentversion", record.componentversion, rejection))
        return false;
    const xml::SElement* server = control.Child("server");
    if (server == nullptr)
        return Reject(rejection, where + " has no \"server\" child", HR_INVALID_ARG);
    std::string port;
    uint32_t hours = 0;
    if (!GetAttribute(*server, where + ": its \"server\"", "port", port, rejection) ||
        !GetDword(control, where, "probability", record.probability, rejection) ||
        !GetDword(control, where, "dailyLimit", record.dailyLimit, rejection))
        return false;
    record.server = Trimmed(server->Text());
    if (record.server.empty())
        return Reject(rejection, where + ": the \"server\" text is empty", HR_FAIL);
    if (!GetDword(control, where, "retryLimitDays", record.retryLimitDays, rejection) ||
        !GetDword(control, where, "retryFrequencyMinHours", hours, rejection))
        return false;
    record.retrySeconds = hours * 3600u;
    const int32_t portNumber = WideToLong(port);
    record.port = uint32_t(portNumber);
    int32_t exact;
    if (!ParseDecimal(port, exact) || exact != portNumber)
        Note(where + ": the \"port\" " + Quoted(port) + " reads as " + std::to_string(record.port));
    const std::string* proto = server->Attribute("proto");
    if (proto == nullptr || proto->empty()) {
        Note(where + ": no \"proto\" on \"server\"; the update uses \"https\"");
        record.proto = DEFAULT_PROTO;
    } else {
        record.proto = *proto;
    }
    return true;
}

bool CLoader::Load(const xml::SElement& root, SRejection& rejection)
{
    const std::vector<const xml::SElement*> products = xml::ElementsByName(root, "product");
    WriteField(m_out, "products", std::to_string(products.size()));
    if (products.empty())
        return Reject(rejection, "no \"product\" element", HR_NOT_FOUND);

    const std::vector<const xml::SElement*> settings = xml::ElementsByName(root, "controlSettings");
    if (settings.empty())
        return Reject(rejection, "no \"controlSettings\" element", HR_NOT_FOUND);
    if (settings.size() > 1)
        Note(std::to_string(settings.size()) + " \"controlSettings\" elements; the update uses the first");
    std::string sequence;
    if (!GetAttribute(*settings[0], "\"controlSettings\"", "scdSequence", sequence, rejection))
        return false;
    WriteField(m_out, "sequence", Quoted(sequence));

    for (size_t p = 0; p < products.size(); ++p) {
        const xml::SElement& product = *products[p];
        std::string where = "product " + std::to_string(p + 1);
        const std::string* version = product.Attribute("scdVersion");
        if (version == nullptr || *version != REQUIRED_VERSION) {
            Note(where + ": " +
                 (version == nullptr ? std::string("no \"scdVersion\"") : "\"scdVersion\" is " + Quoted(*version)) +
                 ", not \"1.0\"; the update skips this product");
            continue;
        }
        std::string name, productVersion;
        if (!GetAttribute(product, where, "product", name, rejection) ||
            !GetAttribute(product, where, "productversion", productVersion, rejection))
            return false;
        where += " (" + Quoted(name) + " version " + Quoted(productVersion) + ")";
        std::vector<const xml::SElement*> controls;
        for (const auto& child : product.children) {
            if (child->name == "control")
                controls.push_back(child.get());
        }
        if (controls.empty()) {
            Note(where + " has no \"control\" children; the update skips this product");
            continue;
        }
        for (size_t c = 0; c < controls.size(); ++c) {
            SRecord record;
            record.product = name;
            record.productversion = productVersion;
            const std::string controlWhere = "control " + std::to_string(c + 1) + " of " + where;
            if (!LoadRecord(*controls[c], controlWhere, record, rejection))
                return false;
            record.key = {ToUtf16(record.type), ToUtf16(record.product), ToUtf16(record.productversion),
                          ToUtf16(record.component), ToUtf16(record.componentversion)};
            if (!m_records.insert(record).second)
                Note(controlWhere + " repeats the type, product, versions and component of an earlier "
                                    "control; the update keeps only the earlier one");
        }
    }
    if (m_records.empty())
        return Reject(rejection, "no usable \"control\" (every product skipped)", HR_NOT_FOUND);
    return true;
}

void ListRecords(std::ostream& out, const std::set<SRecord, SKeyLess>& records)
{
    WriteField(out, "controls", std::to_string(records.size()) + " in the order the update makes them");
    size_t index = 0;
    for (const SRecord& record : records) {
        out << '[' << ++index << "] product " << Quoted(record.product) << " version " << Quoted(record.productversion)
            << " type " << Quoted(record.type) << " component " << Quoted(record.component) << " version "
            << Quoted(record.componentversion) << '\n';
        out << "    server " << Quoted(record.server) << ':' << record.port << " proto " << Quoted(record.proto)
            << " probability " << record.probability << " daily limit " << record.dailyLimit << " retry days "
            << record.retryLimitDays << " retry frequency " << record.retrySeconds << " s\n";
        if (!IsKnownType(record.type))
            out << "    note: type " << Quoted(record.type)
                << " is neither \"Submission\" nor \"Detection\": loaded, but the update makes no configuration"
                   " from it\n";
    }
}

int Reject(SConsole& console, const std::string& path, const SRejection& rejection)
{
    std::string reason = rejection.reason;
    if (rejection.hresult != 0)
        reason += " (" + Hex32(rejection.hresult) + ")";
    WriteField(console.out, "verdict", "rejected: " + reason);
    return Fail(console, INSPECT_REJECTED, path, "the update rejects the file: " + reason);
}

int RunCheck(const SInvocation& invocation, SConsole& console)
{
    const std::string& path = invocation.operands[0];
    std::vector<uint8_t> file;
    int status = INSPECT_OK;
    if (!ReadInputFile(console, path, MAX_CONTROL_FILE, file, status))
        return status;
    std::ostream& out = console.out;
    WriteField(out, "file", Escape(path) + " (" + Bytes(file.size()) + ")");

    std::vector<uint8_t> content;
    switch (scd::ReadContent(file.data(), file.size(), content)) {
    case scd::SCD_READ_PLAIN:
        WriteField(out, "form", "plain XML");
        break;
    case scd::SCD_READ_DECIPHERED:
        WriteField(out, "form", "enciphered container, deciphered");
        break;
    case scd::SCD_READ_EMPTY:
        return Reject(console, path, {"no content: the update has nothing to read", HR_NO_DATA});
    case scd::SCD_READ_DAMAGED:
        return Reject(console, path,
                      {"damaged container, left on disk as it is (see 'submca-inspect scd')", HR_FILE_CORRUPT});
    case scd::SCD_READ_KEY_FAILED:
        return Fail(console, INSPECT_IO_ERROR, path, "the cipher could not be keyed");
    default:
        return Fail(console, INSPECT_IO_ERROR, path, "out of memory");
    }
    // The update hands the parser the text up to the first zero byte.
    const size_t length = size_t(std::find(content.begin(), content.end(), uint8_t(0)) - content.begin());
    if (length + 1 < content.size())
        out << "note: a zero byte at offset " << length << "; the update reads only the text before it\n";

    xml::SParseError error;
    const std::unique_ptr<xml::SElement> root = xml::Parse(content.data(), length, error);
    if (!root && error.toolLimit) {
        const std::string limit = Escape(error.reason) + " at line " + std::to_string(error.line) + ", column " +
                                  std::to_string(error.column) + ": a limit of this tool, not a verdict of the module";
        WriteField(out, "verdict", "none: " + limit);
        return Fail(console, INSPECT_TOOL_LIMIT, path, limit + " (see 'submca-inspect --help')");
    }
    if (!root)
        return Reject(console, path,
                      {"not well-formed XML at line " + std::to_string(error.line) + ", column " +
                           std::to_string(error.column) + ": " + Escape(error.reason),
                       HR_FAIL});

    CLoader loader(out);
    SRejection rejection;
    if (!loader.Load(*root, rejection))
        return Reject(console, path, rejection);
    ListRecords(out, loader.Records());
    const size_t configurations = size_t(std::count_if(loader.Records().begin(), loader.Records().end(),
                                                       [](const SRecord& record) { return IsKnownType(record.type); }));
    WriteField(out, "verdict",
               "accepted (" + std::to_string(configurations) +
                   (configurations == 1 ? " configuration)" : " configurations)"));
    return INSPECT_OK;
}

} // namespace

const SCommand g_checkCommand = {
    "check",
    "check a control file SCD.xml against the rules of the update",
    "check FILE",
    "Reads a submission control file (plain XML, or the enciphered container, deciphered first)\n"
    "the way the update loads it: one \"controlSettings\" with its \"scdSequence\", the \"product\"\n"
    "elements anywhere in the document (\"scdVersion\" must be \"1.0\", else the product is\n"
    "skipped) and their \"control\" children with the \"server\" child and the numbers. It notes\n"
    "what the update skips or drops (a second \"controlSettings\", a product without controls, a\n"
    "control repeating the key of an earlier one, a type other than \"Submission\" and\n"
    "\"Detection\"), lists the controls in the order the update makes configurations from them\n"
    "(type, product, product version, component, component version) and ends with the verdict:\n"
    "accepted with the number of configurations, or rejected with the update's reason.\n"
    "\n"
    "The check follows the update's rules but reads the XML with its own strict reader, not with\n"
    "MSXML: a file it rejects as malformed is one MSXML would most likely reject too. A document\n"
    "beyond the reader's own limits (its size, its depth, the number of its elements and\n"
    "attributes, a document type declaration: see 'submca-inspect --help') gets no verdict and\n"
    "exit status 4.\n"
    "The final word is the update's trace.\n"
    "\n"
    "Example:\n"
    "  submca-inspect check \"C:\\ProgramData\\Korvalin\\ORB\\SCD.xml\"\n",
    {},
    1,
    1,
    RunCheck,
};

} // namespace inspector
