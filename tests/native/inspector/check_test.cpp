// "check": each loading rule of the update and what the XML reader refuses, on a small
// document; the order of the listed controls; an enciphered file.
#include "support.h"

using namespace inspecttest;

namespace {

const char kNumbers[] = "<probability>100</probability><dailyLimit>50</dailyLimit>"
                        "<retryLimitDays>7</retryLimitDays><retryFrequencyMinHours>2</retryFrequencyMinHours>";
const char kServer[] = "<server port='443'>s.example.com</server>";
const char kAttributes[] = "type='Submission' component='eng' componentversion='2.1'";
const char kSettings[] = "<controlSettings scdSequence='42'/>";

std::string Control(const std::string& attributes = kAttributes, const std::string& server = kServer,
                    const std::string& numbers = kNumbers)
{
    return "<control " + attributes + ">" + server + numbers + "</control>";
}

std::string Product(const std::string& body = Control(),
                    const std::string& attributes = "scdVersion='1.0' product='ORB' productversion='5.0'")
{
    return "<product " + attributes + ">" + body + "</product>";
}

std::string Document(const std::string& body = Product(), const std::string& settings = kSettings)
{
    return "<?xml version=\"1.0\"?>\n<scd>" + settings + body + "</scd>\n";
}

std::string WithServer(const std::string& server)
{
    return Document(Product(Control(kAttributes, server)));
}

// The document with one text of the default control replaced.
std::string WithNumber(const std::string& from, const std::string& to)
{
    std::string numbers = kNumbers;
    numbers.replace(numbers.find(from), from.size(), to);
    return Document(Product(Control(kAttributes, kServer, numbers)));
}

std::string WithProduct(const std::string& attributes)
{
    return Document(Product(Control(), attributes));
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

class CheckTest : public CScratchTest {
protected:
    SResult Check(const std::string& document) { return Inspect({"check", Write("SCD.xml", ToBytes(document))}); }
};

} // namespace

// Each row: a document, the exit status, and a part of the report. The verdict ends every
// report; a rejection repeats it in one line on standard error, a tool limit says so there.
TEST_F(CheckTest, EachLoadingRule)
{
    const std::string lenient = "<probability> 5\n</probability><dailyLimit>+6</dailyLimit><retryLimitDays>-1"
                                "</retryLimitDays><retryFrequencyMinHours>1193047</retryFrequencyMinHours>";
    const std::string noUsable = "rejected: no usable \"control\" (every product skipped) (0x80070490)";
    std::string nested;
    for (int i = 0; i < 300; ++i)
        nested = "<n>" + nested + "</n>";
    std::string wide = "<w";
    for (int i = 0; i < 50000; ++i)
        wide += " a" + std::to_string(i) + "=''";
    wide += "/>";
    std::string many;
    for (int i = 0; i < 50000; ++i)
        many += "<e/>";
    const struct {
        std::string document;
        int status;
        std::string part;
    } cases[] = {
        {Document(), 0, "sequence:        \"42\""},
        {Document(""), 1, "rejected: no \"product\" element (0x80070490)"},
        {Document(Product(), ""), 1, "rejected: no \"controlSettings\" element (0x80070490)"},
        {Document(Product(), "<controlSettings/>"), 1,
         "\"controlSettings\" has no \"scdSequence\" attribute (0x80070490)"},
        {Document(Product(), "<controlSettings scdSequence=''/>"), 1,
         "has an empty \"scdSequence\" attribute (0x80004005)"},
        {WithProduct("scdVersion='1.1' product='ORB' productversion='5.0'"), 1,
         "\"scdVersion\" is \"1.1\", not \"1.0\"; the update skips"},
        {WithProduct("product='ORB' productversion='5.0'"), 1, noUsable},
        {WithProduct("scdVersion='1.0' productversion='5.0'"), 1, "rejected: product 1 has no \"product\" attribute"},
        {WithProduct("scdVersion='1.0' product='ORB' productversion=''"), 1,
         "empty \"productversion\" attribute (0x80004005)"},
        {Document(Product(Control("component='eng' componentversion='2.1'"))), 1,
         "\"5.0\") has no \"type\" attribute (0x80070490)"},
        {Document(Product(Control("type='Detection' component='' componentversion='2.1'"))), 1,
         "has an empty \"component\" attribute (0x80004005)"},
        {WithServer(""), 1, "has no \"server\" child (0x80070057)"},
        {WithServer("<server>h</server>"), 1, "its \"server\" has no \"port\" attribute (0x80070490)"},
        {WithServer("<server port='1'> \n</server>"), 1, "the \"server\" text is empty (0x80004005)"},
        {WithNumber(">100<", ">x<"), 1, "the \"probability\" text \"x\" is not a decimal number"},
        {WithNumber(">50<", ">12abc<"), 1, "the \"dailyLimit\" text \"12abc\" is not a decimal number"},
        {WithNumber("<retryFrequencyMinHours>2</retryFrequencyMinHours>", ""), 1,
         "has no \"retryFrequencyMinHours\" child"},
        {Document(Product(Control(kAttributes, kServer, lenient))), 0,
         "probability 5 daily limit 6 retry days 4294967295 retry frequency 1904 s"},
        {WithServer("<server port='80' proto=''>h</server>"), 0,
         "no \"proto\" on \"server\"; the update uses \"https\""},
        {WithServer("<server port=' 8443abc'>h</server>"), 0, "the \"port\" \" 8443abc\" reads as 8443"},
        {WithServer("<server port='-1'>h</server>"), 0, "server \"h\":4294967295"},
        {Document(Product(Control() + Control("type='Submission' component='ENG' componentversion='2.1'"))), 0,
         "accepted (2 configurations)"},
        {Document(Product("<control>")), 1, "rejected: not well-formed XML at line 2, column"},
        {Document(Product("<control a='1' a='2'/>")), 1, "given twice"},
        {Document(Product("<control a\xC2\x9B='1' a\xC2\x9B='2'/>")), 1,
         "column 122: attribute \"a\\xC2\\x9B\" given twice"},
        {Document(Product("<c\xE2\x80\xAE\xC2\x85></c>")), 1,
         "end tag </c> does not match <c\\xE2\\x80\\xAE\\xC2\\x85> (0x80004005)"},
        {Document(Product("&nbsp;")), 1, "undefined entity"},
        {Document(Product("\xC0\x80")), 1, "not valid UTF-8"},
        {Document(Product("<![CDATA[ a")), 1, "CDATA section not closed"},
        {WithProduct("scdVersion='1.0' product='A&amp;B&#x43;&#xe9;' productversion='&quot;1&quot;'"), 0,
         "product \"A&BC\\xC3\\xA9\" version \"\"1\"\" type \"Submission\" component \"eng\" version \"2.1\"\n    "
         "server "
         "\"s.example.com\":443 proto \"https\" probability 100 daily limit 50 retry days 7 retry frequency 7200 s"},
        {"<!DOCTYPE scd [<!ENTITY x SYSTEM 'file:///etc/passwd'>]>" + Document().substr(22), 4,
         "verdict:         none: document type declarations are not accepted"},
        {Document(Product() + nested), 4, "verdict:         none: elements nested more than 256 deep"},
        {Document(Product() + wide + many), 4,
         "verdict:         none: more than 100000 elements and attributes at line 2, column 689194"},
        {Document(Product() + std::string(17 * 1024 * 1024, ' ')), 4,
         "verdict:         none: the document is larger than 16777216 bytes"},
    };
    for (const auto& c : cases) {
        const SResult result = Check(c.document);
        EXPECT_EQ(result.status, c.status) << c.part;
        EXPECT_TRUE(Contains(result.out, c.part)) << "missing: " << c.part << "\n" << result.out;
        EXPECT_TRUE(IsPlainText(result.out + result.err)) << result.out << result.err;
        const std::string verdict = Lines(result.out).back();
        EXPECT_EQ(verdict.rfind("verdict:", 0), 0u) << "the verdict ends the report";
        if (c.status == 1)
            EXPECT_EQ(result.err, "submca-inspect: " + PathOf("SCD.xml") + ": the update rejects the file: " +
                                      verdict.substr(verdict.find("rejected: ") + 10) + "\n");
        else
            EXPECT_EQ(result.err.empty(), c.status == 0) << result.err;
    }
}

// The update's order: by type, product, productversion, component and componentversion,
// compared as UTF-16 code units.
TEST_F(CheckTest, ControlsAreListedInKeyOrderByUtf16CodeUnits)
{
    const char* const documentOrder[][4] = {
        {"Submission", "\xEF\xBD\x9E", "c", "1"},     // U+FF5E: one code unit
        {"Submission", "\xF0\x90\x80\x80", "c", "1"}, // U+10000: 0xD800 0xDC00
        {"Submission", "a", "c", "10"},
        {"Submission", "a", "C", "1"},
        {"Detection", "b", "c", "1"},
        {"Submission", "B", "c", "1"},
    };
    std::string body;
    for (const auto& c : documentOrder)
        body += Product(
            Control(std::string("type='") + c[0] + "' component='" + c[2] + "' componentversion='" + c[3] + "'"),
            std::string("scdVersion='1.0' productversion='1' product='") + c[1] + "'");
    const SResult result = Check(Document(body));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> expected = {
        "product \"b\" version \"1\" type \"Detection\" component \"c\" version \"1\"",
        "product \"B\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
        "product \"a\" version \"1\" type \"Submission\" component \"C\" version \"1\"",
        "product \"a\" version \"1\" type \"Submission\" component \"c\" version \"10\"",
        "product \"\\xF0\\x90\\x80\\x80\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
        "product \"\\xEF\\xBD\\x9E\" version \"1\" type \"Submission\" component \"c\" version \"1\"",
    };
    EXPECT_EQ(ListedControls(result.out), expected);
}

// An enciphered file is deciphered first; what the container itself makes the update fail
// with comes before any XML is read.
TEST_F(CheckTest, EncipheredFiles)
{
    const Bytes key(16, 0x33);
    const std::string plain =
        Document(Product(Control() + Control("type='Detection' component='e' componentversion='1'")));
    const SResult result = Inspect({"check", Write("SCD.xml", EncodeContainerFor(plain, key))});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, "form:            enciphered container, deciphered"));
    EXPECT_EQ(ListedControls(result.out), ListedControls(Check(plain).out));
    EXPECT_EQ(ListedControls(result.out).size(), 2u);

    const SResult damaged = Inspect({"check", Write("in.xml", EncodeContainer(key, 1000, Bytes(16, 0)))});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_TRUE(Contains(damaged.err, "rejects the file: damaged container, left on disk as it is (see "
                                      "'submca-inspect scd') (0x80070570)\n"));
    EXPECT_TRUE(Contains(Inspect({"check", Write("in.xml", EncodeContainer(key, 1, Bytes()))}).err,
                         "rejects the file: no content: the update has nothing to read (0x800700E8)"));
}
