// "check": each loading rule of the update on a small document, the order of the listed
// controls, an enciphered file, and the exit statuses and messages.
#include <algorithm>

#include "support.h"

using namespace inspecttest;

namespace {

const Bytes kDataKey = oracle::FromHex("00112233445566778899AABBCCDDEEFF");

const char kNumbers[] = "<probability>100</probability><dailyLimit>50</dailyLimit>"
                        "<retryLimitDays>7</retryLimitDays><retryFrequencyMinHours>2</retryFrequencyMinHours>";
const char kServer[] = "<server port='443'>s.example.com</server>";
const char kControlAttributes[] = "type='Submission' component='eng' componentversion='2.1'";
const char kProductAttributes[] = "scdVersion='1.0' product='ORB' productversion='5.0'";
const char kSettings[] = "<controlSettings scdSequence='42'/>";

std::string Control(const std::string& attributes = kControlAttributes, const std::string& server = kServer,
                    const std::string& numbers = kNumbers)
{
    return "<control " + attributes + ">" + server + numbers + "</control>";
}

std::string Product(const std::string& body = Control(), const std::string& attributes = kProductAttributes)
{
    return "<product " + attributes + ">" + body + "</product>";
}

std::string Document(const std::string& body = Product(), const std::string& settings = kSettings)
{
    return "<?xml version=\"1.0\"?>\n<scd>" + settings + body + "</scd>\n";
}

std::string Numbers(const std::string& probability, const std::string& daily, const std::string& days,
                    const std::string& hours)
{
    return "<probability>" + probability + "</probability><dailyLimit>" + daily + "</dailyLimit><retryLimitDays>" +
           days + "</retryLimitDays><retryFrequencyMinHours>" + hours + "</retryFrequencyMinHours>";
}

std::string Nested(size_t depth)
{
    std::string open, close;
    for (size_t i = 0; i < depth; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return open + close;
}

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::vector<std::string> ListedControls(const std::string& out)
{
    std::vector<std::string> listed;
    for (const std::string& line : Lines(out)) {
        if (!line.empty() && line[0] == '[')
            listed.push_back(line.substr(line.find(']') + 2));
    }
    return listed;
}

class CheckTest : public CScratchTest
{
protected:
    SResult Check(const std::string& document) { return Inspect({"check", Write("SCD.xml", ToBytes(document))}); }
};

struct SRuleCase {
    const char* name;
    std::string document;
    int status;
    std::vector<std::string> expected; // parts of standard output, each present
};

} // namespace

TEST_F(CheckTest, EachLoadingRule)
{
    const std::string accepted1 = "verdict:         accepted (1 configuration)";
    const std::string noUsable = "rejected: no usable \"control\" (every product skipped) (0x80070490)";
    const std::string second = Product(Control(), "scdVersion='1.0' product='Two' productversion='1'");
    const SRuleCase cases[] = {
        {"well-formed minimal document",
         Document(),
         0,
         {"sequence:        \"42\"",
          "product \"ORB\" version \"5.0\" type \"Submission\" component \"eng\" version \"2.1\"",
          "server \"s.example.com\":443 proto \"https\" probability 100 daily limit 50 retry days 7 retry "
          "frequency 7200 s",
          accepted1}},
        {"no product", Document(""), 1, {"rejected: no \"product\" element (0x80070490)"}},
        {"no product wins over no controlSettings", Document("", ""), 1, {"no \"product\" element (0x80070490)"}},
        {"no controlSettings", Document(Product(), ""), 1, {"rejected: no \"controlSettings\" element (0x80070490)"}},
        {"two controlSettings: the first is used",
         Document(Product(), "<controlSettings scdSequence='first'/><x><controlSettings scdSequence='second'/></x>"),
         0,
         {"note: 2 \"controlSettings\" elements; the update uses the first", "sequence:        \"first\"", accepted1}},
        {"scdSequence missing",
         Document(Product(), "<controlSettings/>"),
         1,
         {"\"controlSettings\" has no \"scdSequence\" attribute (0x80070490)"}},
        {"scdSequence empty",
         Document(Product(), "<controlSettings scdSequence=''/>"),
         1,
         {"\"controlSettings\" has an empty \"scdSequence\" attribute (0x80004005)"}},
        {"scdVersion 1.1 skips the only product",
         Document(Product(Control(), "scdVersion='1.1' product='ORB' productversion='5.0'")),
         1,
         {"note: product 1: \"scdVersion\" is \"1.1\", not \"1.0\"; the update skips this product", noUsable}},
        {"scdVersion missing",
         Document(Product(Control(), "product='ORB' productversion='5.0'")),
         1,
         {"note: product 1: no \"scdVersion\", not \"1.0\"", noUsable}},
        {"scdVersion compared exactly",
         Document(Product(Control(), "scdVersion='1.0 ' product='A' productversion='1'")),
         1,
         {"\"scdVersion\" is \"1.0 \"", noUsable}},
        {"skipped product beside a good one",
         Document(Product(Control(), "scdVersion='2.0' product='A' productversion='1'") + Product()),
         0,
         {"note: product 1: \"scdVersion\" is \"2.0\"", accepted1}},
        {"product attribute missing",
         Document(Product(Control(), "scdVersion='1.0' productversion='5.0'")),
         1,
         {"rejected: product 1 has no \"product\" attribute (0x80070490)"}},
        {"productversion empty",
         Document(Product(Control(), "scdVersion='1.0' product='ORB' productversion=''")),
         1,
         {"rejected: product 1 has an empty \"productversion\" attribute (0x80004005)"}},
        {"product without controls beside a good one",
         Document(Product("") + second),
         0,
         {"note: product 1 (\"ORB\" version \"5.0\") has no \"control\" children; the update skips this product",
          accepted1}},
        {"control below a direct child is not the product's",
         Document(Product("<group>" + Control() + "</group>")),
         1,
         {"has no \"control\" children", noUsable}},
        {"product found at any depth", Document("<a><b>" + Product() + "</b></a>"), 0, {accepted1}},
        {"type missing",
         Document(Product(Control("component='eng' componentversion='2.1'"))),
         1,
         {"rejected: control 1 of product 1 (\"ORB\" version \"5.0\") has no \"type\" attribute (0x80070490)"}},
        {"component empty",
         Document(Product(Control("type='Detection' component='' componentversion='2.1'"))),
         1,
         {"has an empty \"component\" attribute (0x80004005)"}},
        {"componentversion missing",
         Document(Product(Control("type='Detection' component='e'"))),
         1,
         {"has no \"componentversion\" attribute (0x80070490)"}},
        {"server missing",
         Document(Product(Control(kControlAttributes, ""))),
         1,
         {"has no \"server\" child (0x80070057)"}},
        {"port missing",
         Document(Product(Control(kControlAttributes, "<server>h</server>"))),
         1,
         {"its \"server\" has no \"port\" attribute (0x80070490)"}},
        {"port empty",
         Document(Product(Control(kControlAttributes, "<server port=''>h</server>"))),
         1,
         {"its \"server\" has an empty \"port\" attribute (0x80004005)"}},
        {"server text empty",
         Document(Product(Control(kControlAttributes, "<server port='1'/>"))),
         1,
         {"the \"server\" text is empty (0x80004005)"}},
        {"server text only white space",
         Document(Product(Control(kControlAttributes, "<server port='1'> \n</server>"))),
         1,
         {"the \"server\" text is empty (0x80004005)"}},
        {"probability not a number",
         Document(Product(Control(kControlAttributes, kServer, Numbers("x", "1", "1", "1")))),
         1,
         {"rejected: control 1 of product 1 (\"ORB\" version \"5.0\"): the \"probability\" text \"x\" is not a "
          "decimal number"}},
        {"dailyLimit with trailing letters",
         Document(Product(Control(kControlAttributes, kServer, Numbers("1", "12abc", "1", "1")))),
         1,
         {"the \"dailyLimit\" text \"12abc\" is not a decimal number"}},
        {"retryLimitDays empty",
         Document(Product(Control(kControlAttributes, kServer, Numbers("1", "1", "", "1")))),
         1,
         {"the \"retryLimitDays\" text \"\" is not a decimal number"}},
        {"retryFrequencyMinHours missing",
         Document(Product(Control(kControlAttributes, kServer,
                                  "<probability>1</probability><dailyLimit>1</dailyLimit>"
                                  "<retryLimitDays>1</retryLimitDays>"))),
         1,
         {"has no \"retryFrequencyMinHours\" child"}},
        {"number beyond 32 bits",
         Document(Product(Control(kControlAttributes, kServer, Numbers("2147483648", "1", "1", "1")))),
         1,
         {"\"probability\" text \"2147483648\" is not a decimal number"}},
        {"numbers with white space and signs; hours times 3600 in 32 bits",
         Document(Product(Control(kControlAttributes, kServer, Numbers(" 5\n", "+6", "-1", "1193047")))),
         0,
         {"probability 5 daily limit 6 retry days 4294967295 retry frequency 1904 s", accepted1}},
        {"proto given",
         Document(Product(Control(kControlAttributes, "<server port='80' proto='http'>h</server>"))),
         0,
         {"server \"h\":80 proto \"http\""}},
        {"proto empty uses https",
         Document(Product(Control(kControlAttributes, "<server port='80' proto=''>h</server>"))),
         0,
         {"no \"proto\" on \"server\"; the update uses \"https\"", "proto \"https\""}},
        {"port read like _wtol",
         Document(Product(Control(kControlAttributes, "<server port=' 8443abc'>h</server>"))),
         0,
         {"note: control 1 of product 1 (\"ORB\" version \"5.0\"): the \"port\" \" 8443abc\" reads as 8443",
          "server \"h\":8443"}},
        {"port without digits reads as 0",
         Document(Product(Control(kControlAttributes, "<server port='x'>h</server>"))),
         0,
         {"the \"port\" \"x\" reads as 0", "server \"h\":0"}},
        {"negative port",
         Document(Product(Control(kControlAttributes, "<server port='-1'>h</server>"))),
         0,
         {"server \"h\":4294967295"}},
        {"duplicate key keeps the first",
         Document(Product(Control() + Control(kControlAttributes, "<server port='1'>other</server>"))),
         0,
         {"note: control 2 of product 1 (\"ORB\" version \"5.0\") repeats the type, product, versions and component "
          "of an earlier control; the update keeps only the earlier one",
          "server \"s.example.com\":443", accepted1}},
        {"keys compared case-sensitively",
         Document(Product(Control() + Control("type='Submission' component='ENG' componentversion='2.1'"))),
         0,
         {"accepted (2 configurations)"}},
        {"unknown type is loaded without a configuration",
         Document(Product(Control("type='submission' component='e' componentversion='1'"))),
         0,
         {"type \"submission\" component \"e\"",
          "note: type \"submission\" is neither \"Submission\" nor \"Detection\": loaded, but the update makes no "
          "configuration from it",
          "verdict:         accepted (0 configurations)"}},
        {"entities in values",
         Document(Product(Control(), "scdVersion='1.0' product='A&amp;B&#x43;' productversion='&quot;1&quot;'")),
         0,
         {"product \"A&BC\" version \"\"1\"\""}},
        {"malformed XML",
         Document(Product("<control>")),
         1,
         {"rejected: not well-formed XML at line 2, column", "(0x80004005)"}},
        {"document type declaration: the tool's limit, not the update's verdict",
         "<!DOCTYPE scd [<!ENTITY x SYSTEM 'file:///etc/passwd'>]>" + Document().substr(22),
         4,
         {"verdict:         none: document type declarations are not accepted", "a limit of this tool"}},
        {"nesting beyond the reader's depth",
         Document(Product() + Nested(300)),
         4,
         {"verdict:         none: elements nested more than 256 deep"}},
        {"a document beyond the reader's size",
         Document(Product() + std::string(17 * 1024 * 1024, ' ')),
         4,
         {"verdict:         none: the document is larger than 16777216 bytes at line 1, column 1: a limit of this "
          "tool, not a verdict of the module"}},
        {"text after a zero byte is not read",
         Document() + std::string(1, '\0') + "<junk",
         0,
         {"note: a zero byte at offset", accepted1}},
    };
    for (const SRuleCase& test : cases) {
        SCOPED_TRACE(test.name);
        const SResult result = Check(test.document);
        EXPECT_EQ(result.status, test.status) << result.out << result.err;
        for (const std::string& part : test.expected)
            EXPECT_TRUE(Contains(result.out, part)) << "missing: " << part << "\n" << result.out;
        const std::vector<std::string> lines = Lines(result.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("verdict:", 0), 0u) << "the verdict ends the report";
        if (test.status == 1) {
            const std::string verdict = lines.back().substr(lines.back().find("rejected: ") + 10);
            EXPECT_EQ(result.err,
                      "submca-inspect: " + PathOf("SCD.xml") + ": the update rejects the file: " + verdict + "\n");
        } else if (test.status == 4) {
            EXPECT_EQ(Lines(result.err).size(), 1u);
            EXPECT_TRUE(Contains(result.err, "a limit of this tool, not a verdict of the module (see 'submca-inspect "
                                             "--help')\n"));
        } else {
            EXPECT_EQ(result.err, "");
        }
    }
}

TEST_F(CheckTest, ControlsAreListedInKeyOrderByUtf16CodeUnits)
{
    // Each control: type, product, component, componentversion; productversion is "1" throughout.
    const struct {
        const char* type;
        const char* product;
        const char* component;
        const char* componentversion;
    } documentOrder[] = {
        {"Submission", "b", "c", "1"},
        {"Submission", "\xEF\xBD\x9E", "c", "1"},     // U+FF5E: one code unit 0xFF5E
        {"Submission", "\xF0\x90\x80\x80", "c", "1"}, // U+10000: code units 0xD800 0xDC00
        {"Submission", "a", "c", "10"},
        {"Submission", "a", "c", "1"},
        {"Submission", "a", "C", "1"},
        {"Detection", "b", "c", "1"},
        {"Submission", "B", "c", "1"},
    };
    std::string body;
    for (const auto& control : documentOrder) {
        body += Product(Control(std::string("type='") + control.type + "' component='" + control.component +
                                "' componentversion='" + control.componentversion + "'"),
                        std::string("scdVersion='1.0' productversion='1' product='") + control.product + "'");
    }
    const SResult result = Check(Document(body));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> expected = {
        "product \"b\" version \"1\" type \"Detection\" component \"c\" version \"1\"",
        "product \"B\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
        "product \"a\" version \"1\" type \"Submission\" component \"C\" version \"1\"",
        "product \"a\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
        "product \"a\" version \"1\" type \"Submission\" component \"c\" version \"10\"",
        "product \"b\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
        "product \"\\xF0\\x90\\x80\\x80\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
        "product \"\\xEF\\xBD\\x9E\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
    };
    EXPECT_EQ(ListedControls(result.out), expected);
    EXPECT_TRUE(Contains(result.out, "controls:        8 in the order the update makes them"));
    EXPECT_TRUE(Contains(result.out, "verdict:         accepted (8 configurations)"));
}

TEST_F(CheckTest, EncipheredFileIsDecipheredFirst)
{
    const std::string plain = Document(Product(Control() + Control("type='Detection' component='eng' "
                                                                   "componentversion='2.1'")));
    const SResult result = Inspect({"check", Write("SCD.xml", EncodeContainerFor(plain, kDataKey))});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, "form:            enciphered container, deciphered"));
    EXPECT_TRUE(Contains(result.out, "verdict:         accepted (2 configurations)"));

    const SResult same = Check(plain);
    EXPECT_TRUE(Contains(same.out, "form:            plain XML"));
    EXPECT_EQ(ListedControls(result.out), ListedControls(same.out));

    // What the container itself makes the update fail with, before any XML is read: a stored
    // length beyond the body, a header without body, an empty file.
    const struct {
        Bytes file;
        std::string verdict;
    } refused[] = {
        {EncodeContainer(kDataKey, 1000, Bytes(16, 0)),
         "rejected: damaged container, left on disk as it is (see 'submca-inspect scd') (0x80070570)"},
        {EncodeContainer(kDataKey, 1, Bytes()), "rejected: no content: the update has nothing to read (0x800700E8)"},
        {Bytes(), "rejected: no content: the update has nothing to read (0x800700E8)"},
    };
    for (const auto& c : refused) {
        const SResult result = Inspect({"check", Write("damaged.xml", c.file)});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(Lines(result.out).back(), "verdict:         " + c.verdict);
        EXPECT_TRUE(Contains(result.err, "the update rejects the file: " + c.verdict.substr(10))) << result.err;
    }
}

TEST_F(CheckTest, ExitStatusesAndStreams)
{
    SResult result = InspectProcess({"check", Write("good.xml", ToBytes(Document()))});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(Contains(result.out, "accepted (1 configuration)"));

    result = InspectProcess({"check", Write("bad.xml", ToBytes(Document("")))});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "the update rejects the file: no \"product\" element (0x80070490)"));

    result = InspectProcess({"check", Write("empty.xml", Bytes())});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "no content")) << result.err;

    result = InspectProcess({"check", PathOf("absent.xml")});
    EXPECT_EQ(result.status, 3);
    EXPECT_TRUE(Contains(result.err, "absent.xml")) << result.err;

    result = InspectProcess({"check"});
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(Contains(result.err, "check: FILE missing"));

    result = InspectProcess({"check", "a.xml", "b.xml"});
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(Contains(result.err, "unexpected argument 'b.xml'"));

    result = InspectProcess({"check", "--force", "a.xml"});
    EXPECT_EQ(result.status, 2);

    result = InspectProcess({"help", "check"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(Contains(result.out, "its own strict reader"));
    EXPECT_TRUE(Contains(result.out, "final word is the update's trace"));
}
