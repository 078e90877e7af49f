#include "update/update.h"

#include "support/coinitialize.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/update/harness.h"
#include "update/bstr.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace updatetest;

namespace {

const std::string kServer = "<server port=\"443\" proto=\"https\">qsn.example.com</server>";
const std::string kNumbers = "<probability>100</probability><dailyLimit>50</dailyLimit>"
                             "<retryLimitDays>7</retryLimitDays><retryFrequencyMinHours>2</retryFrequencyMinHours>";
const std::string kProduct = "scdVersion=\"1.0\" product=\"AV\" productversion=\"9.1\"";
const std::string kSettings = "<controlSettings scdSequence=\"42\"/>";

std::string Control(const std::string& attributes, const std::string& server = kServer,
                    const std::string& numbers = kNumbers)
{
    return "<control " + attributes + ">" + server + numbers + "</control>";
}
std::string Submission(const std::string& component = "Engine")
{
    return Control("type=\"Submission\" component=\"" + component + "\" componentversion=\"2.0\"");
}
// A Detection control with the given server element and numbers.
std::string Detection(const std::string& server, const std::string& numbers = kNumbers)
{
    return Control("type=\"Detection\" component=\"C\" componentversion=\"1\"", server, numbers);
}
std::string Product(const std::string& controls, const std::string& attributes = kProduct)
{
    return "<product " + attributes + ">" + controls + "</product>";
}
std::string Document(const std::string& body, const std::string& settings = kSettings)
{
    return "<?xml version=\"1.0\"?><scd>" + settings + body + "</scd>";
}

// type|product|productversion|component|componentversion|server|port|proto|probability|
// dailyLimit|retryLimitDays|retry seconds|sequence
std::string Describe(const clfs::update::CUpdate::ConfigRec& r)
{
    using clfs::utils::Text;
    std::string text;
    for (const _bstr_t* field : {&r.m_bstrType, &r.m_bstrProduct, &r.m_bstrProductVersion, &r.m_bstrComponent,
                                 &r.m_bstrComponentVersion, &r.m_bstrServer})
        text += Narrow(Text(*field)) + "|";
    text += std::to_string(r.m_dwPort) + "|" + Narrow(clfs::utils::Text(r.m_bstrProto)) + "|";
    for (unsigned long number : {r.m_dwProbability, r.m_dwDailyLimit, r.m_dwRetryLimitDays, r.m_dwRetryFrequency})
        text += std::to_string(number) + "|";
    return text + Narrow(clfs::utils::Text(r.m_bstrSequence));
}

struct CLoad {
    long hr = 0;
    std::vector<std::string> records;
    bool enciphered = false;
};

CLoad Load(const std::wstring& path)
{
    CLoad load;
    {
        CTestUpdate update(path);
        try {
            load.hr = update.LoadXml();
        } catch (const _com_error& caught) {
            load.hr = caught.Error();
        }
        for (const auto& record : update.Records())
            load.records.push_back(Describe(record));
    }
    const std::vector<unsigned char> stored = ReadFileBytes(path);
    load.enciphered = stored.size() >= 40 && stored[0] == 0x52 && stored[1] == 0x8B && stored[2] == 0xF0;
    return load;
}

CLoad LoadText(const std::string& name, const std::string& xml, std::wstring* file = nullptr)
{
    const std::wstring path = MakeScratchFolder(L"loadxml-" + Widen(name)) + L"\\SCD.xml";
    WriteFileBytes(path, std::vector<unsigned char>(xml.begin(), xml.end()));
    if (file)
        *file = path;
    return Load(path);
}

class LoadXml : public testing::Test {
protected:
    srLib::CCoInitialize m_com{srLib::CCoInitialize::eApartmentThreaded};
};

// What each document gives: the result, the records, and a part of the first record's
// description where the document decides a value.
TEST_F(LoadXml, DocumentsAcceptedAndRefused)
{
    struct Case {
        const char* name;
        std::string xml;
        long hr;
        size_t records;
        std::string first;
    };
    const std::string one = Product(Submission());
    const long kNotFound = static_cast<long>(0x80070490);
    const Case cases[] = {
        {"valid", Document(one), 0, 1, "Submission|AV|9.1|Engine|2.0|qsn.example.com|443|https|100|50|7|7200|42"},
        {"version-1.1", Document(Product(Submission(), "scdVersion=\"1.1\" product=\"AV\" productversion=\"9.1\"")),
         kNotFound, 0, ""},
        {"no-version", Document(Product(Submission("Unversioned"), "product=\"AV\" productversion=\"9.1\"") + one), 0, 1,
         "|Engine|"},
        {"two-settings", Document(one, kSettings + "<controlSettings scdSequence=\"43\"/>"), 0, 1, "|7200|42"},
        {"no-settings", Document(one, ""), kNotFound, 0, ""},
        {"no-sequence", Document(one, "<controlSettings/>"), kNotFound, 0, ""},
        {"no-product", Document(""), kNotFound, 0, ""},
        {"no-controls", Document(Product("")), kNotFound, 0, ""},
        {"no-proto", Document(Product(Detection("<server port=\"80\">h</server>"))), 0, 1, "|h|80|https|"},
        {"empty-proto", Document(Product(Detection("<server port=\"80\" proto=\"\">h</server>"))), 0, 1, "|h|80|https|"},
        {"no-port", Document(Product(Detection("<server proto=\"https\">h</server>"))), kNotFound, 0, ""},
        {"no-server", Document(Product(Detection(""))), E_INVALIDARG, 0, ""},
        {"empty-server", Document(Product(Detection("<server port=\"80\"></server>"))), E_FAIL, 0, ""},
        {"empty-type", Document(Product(Control("type=\"\" component=\"C\" componentversion=\"1\""))), E_FAIL, 0, ""},
        {"text-probability", Document(Product(Detection(kServer, "<probability>abc</probability>"))),
         DISP_E_TYPEMISMATCH, 0, ""},
        {"no-daily-limit", Document(Product(Detection(kServer, "<probability>5</probability>"))), kNotFound, 0, ""},
        {"malformed", "<scd><product scdVersion=\"1.0\">", E_FAIL, 0, ""},
        {"empty", "", static_cast<long>(0x800700E8), 0, ""},
        {"lower-case-type", Document(Product(Control("type=\"submission\" component=\"C\" componentversion=\"1\""))),
         0, 1, "submission|"},
        {"nested-products",
         Document("<group><deeper>" + one + "</deeper></group>" +
                  Product("<wrap>" + Submission("Hidden") + "</wrap>",
                          "scdVersion=\"1.0\" product=\"Other\" productversion=\"1\"")),
         0, 1, "|Engine|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CLoad load = LoadText(c.name, c.xml);
        EXPECT_EQ(c.hr, load.hr);
        EXPECT_EQ(c.records, load.records.size());
        if (c.records && !load.records.empty()) {
            EXPECT_NE(std::string::npos, load.records[0].find(c.first)) << load.records[0];
        }
        // Encipherment was requested before anything was read; only an empty file cannot be.
        EXPECT_EQ(c.xml.empty(), !load.enciphered);
    }
}

TEST_F(LoadXml, RecordsInKeyOrderWithTheirValues)
{
    const std::string xml = Document(
        Product(Submission("Zeta") + Submission("engine") + Submission("Engine") + Submission("Eng")) +
        Product(Control("type=\"Detection\" component=\"Ping\" componentversion=\"3\"",
                        "<server port=\" 0443x\" proto=\"http\">a.example</server><server port=\"1\">b</server>",
                        "<probability>0</probability><dailyLimit>-1</dailyLimit>"
                        "<retryLimitDays>1</retryLimitDays><retryFrequencyMinHours>1193047</retryFrequencyMinHours>") +
                    Control("type=\"Detection\" component=\"Ping\" componentversion=\"3\"",
                            "<server port=\"9\">second.example</server>"),
                "scdVersion=\"1.0\" product=\"AV\" productversion=\"10\""));
    const Lines expected = {
        "Detection|AV|10|Ping|3|a.example|443|http|0|4294967295|1|1904|42",
        "Submission|AV|9.1|Eng|2.0|qsn.example.com|443|https|100|50|7|7200|42",
        "Submission|AV|9.1|Engine|2.0|qsn.example.com|443|https|100|50|7|7200|42",
        "Submission|AV|9.1|Zeta|2.0|qsn.example.com|443|https|100|50|7|7200|42",
        "Submission|AV|9.1|engine|2.0|qsn.example.com|443|https|100|50|7|7200|42",
    };
    std::wstring path;
    const CLoad first = LoadText("order", xml, &path);
    EXPECT_EQ(0, first.hr);
    EXPECT_EQ(expected, first.records);
    // The next run reads the enciphered file the same way.
    const CLoad second = Load(path);
    EXPECT_EQ(0, second.hr);
    EXPECT_EQ(expected, second.records);
}

TEST_F(LoadXml, LargeAndDeepDocuments)
{
    std::string controls;
    for (int i = 0; i < 3000; ++i)
        controls += Submission("c" + std::to_string(i));
    const CLoad many = LoadText("many", Document(Product(controls)));
    EXPECT_EQ(0, many.hr);
    EXPECT_EQ(3000u, many.records.size());

    const std::string host(4 << 20, 'h');
    const CLoad large =
        LoadText("large", Document(Product(Control("type=\"Submission\" component=\"C\" componentversion=\"1\"",
                                                   "<server port=\"1\">" + host + "</server>"))));
    EXPECT_EQ(0, large.hr);
    ASSERT_EQ(1u, large.records.size());
    EXPECT_NE(std::string::npos, large.records[0].find("|" + host + "|"));

    std::string open;
    std::string close;
    for (int i = 0; i < 20000; ++i) {
        open += "<n>";
        close += "</n>";
    }
    const CLoad nested = LoadText("deep", Document(open + Product(Submission()) + close));
    EXPECT_TRUE(nested.hr == E_FAIL || (nested.hr == 0 && nested.records.size() == 1)) << nested.hr;
}

} // namespace
