#include "update/update.h"

#include "support/coinitialize.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "update/bstr.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace testsupport;

namespace {

// CUpdate with the file it reads and the records it keeps reachable.
class CTestUpdate : public clfs::update::CUpdate {
public:
    explicit CTestUpdate(const std::wstring& file) { m_strFile = file; }
    std::set<ConfigRec>& Records() { return m_records; }
};

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
    std::string text;
    for (const _bstr_t* field : {&r.m_bstrType, &r.m_bstrProduct, &r.m_bstrProductVersion, &r.m_bstrComponent,
                                 &r.m_bstrComponentVersion, &r.m_bstrServer})
        text += Narrow(clfs::utils::Text(*field)) + "|";
    text += std::to_string(r.m_dwPort) + "|" + Narrow(clfs::utils::Text(r.m_bstrProto)) + "|";
    for (unsigned long number : {r.m_dwProbability, r.m_dwDailyLimit, r.m_dwRetryLimitDays, r.m_dwRetryFrequency})
        text += std::to_string(number) + "|";
    return text + Narrow(clfs::utils::Text(r.m_bstrSequence));
}

// What each document gives: the result, the number of records, and a part of the first record's
// description where the document decides a value. Records are kept in key order, the first of a
// key wins; encipherment is requested before anything is read, so even a refused file is enciphered.
TEST(LoadXml, DocumentsAcceptedAndRefused)
{
    const srLib::CCoInitialize com(srLib::CCoInitialize::eApartmentThreaded);
    const std::string one = Product(Submission());
    const long kNotFound = static_cast<long>(0x80070490);
    std::string open;
    std::string close;
    for (int i = 0; i < 20000; ++i) {
        open += "<n>";
        close += "</n>";
    }
    const struct {
        std::string xml;
        long hr;
        size_t records;
        std::string first;
    } cases[] = {
        {Document(one), 0, 1, "Submission|AV|9.1|Engine|2.0|qsn.example.com|443|https|100|50|7|7200|42"},
        {Document(Product(Submission(), "scdVersion=\"1.1\" product=\"AV\" productversion=\"9.1\"")), kNotFound, 0, ""},
        {Document(Product(Submission("Unversioned"), "product=\"AV\" productversion=\"9.1\"") + one), 0, 1, "|Engine|"},
        {Document(one, kSettings + "<controlSettings scdSequence=\"43\"/>"), 0, 1, "|7200|42"},
        {Document(one, ""), kNotFound, 0, ""},
        {Document(one, "<controlSettings/>"), kNotFound, 0, ""},
        {Document(Product("")), kNotFound, 0, ""},
        {Document(Product(Detection("<server port=\"80\">h</server>"))), 0, 1, "|h|80|https|"},
        {Document(Product(Detection("<server port=\"80\" proto=\"\">h</server>"))), 0, 1, "|h|80|https|"},
        {Document(Product(Detection("<server proto=\"https\">h</server>"))), kNotFound, 0, ""},
        {Document(Product(Detection(""))), E_INVALIDARG, 0, ""},
        {Document(Product(Detection("<server port=\"80\"></server>"))), E_FAIL, 0, ""},
        {Document(Product(Control("type=\"\" component=\"C\" componentversion=\"1\""))), E_FAIL, 0, ""},
        {Document(Product(Detection(kServer, "<probability>5</probability>"))), kNotFound, 0, ""},
        {"<scd><product scdVersion=\"1.0\">", E_FAIL, 0, ""},
        {Document(Product(Control("type=\"submission\" component=\"C\" componentversion=\"1\""))), 0, 1, "submission|"},
        {Document("<group>" + one + "</group>" + Product("<wrap>" + Submission("Hidden") + "</wrap>")), 0, 1,
         "|Engine|"},
        {Document(Product(Submission("Zeta") + Submission("engine") + Submission("Engine") + Submission("Eng"))), 0, 4,
         "|Eng|2.0|"},
        {Document(Product(Control("type=\"Detection\" component=\"A\" componentversion=\"3\"",
                                  "<server port=\" 0443x\" proto=\"http\">a</server><server port=\"1\">b</server>",
                                  "<probability>0</probability><dailyLimit>-1</dailyLimit><retryLimitDays>1"
                                  "</retryLimitDays><retryFrequencyMinHours>1193047</retryFrequencyMinHours>") +
                          Control("type=\"Detection\" component=\"A\" componentversion=\"3\"") + Submission())),
         0, 2, "Detection|AV|9.1|A|3|a|443|http|0|4294967295|1|1904|42"},
        {Document(open + one + close), E_FAIL, 0, ""},
    };
    for (const auto& c : cases) {
        const std::wstring path = MakeScratchFolder(L"loadxml") + L"\\SCD.xml";
        WriteFileBytes(path, std::vector<unsigned char>(c.xml.begin(), c.xml.end()));
        std::vector<std::string> records;
        long hr = 0;
        {
            CTestUpdate update(path);
            try {
                hr = update.LoadXml();
            } catch (const _com_error& caught) {
                hr = caught.Error();
            }
            for (const auto& record : update.Records())
                records.push_back(Describe(record));
        }
        EXPECT_EQ(c.hr, hr) << c.xml.substr(0, 300);
        ASSERT_EQ(c.records, records.size()) << c.xml.substr(0, 300);
        EXPECT_NE(std::string::npos, records.empty() ? 0 : records[0].find(c.first)) << c.first;
        const std::vector<unsigned char> stored = ReadFileBytes(path);
        EXPECT_TRUE(stored.size() >= 40 && stored[0] == 0x52 && stored[1] == 0x8B) << c.xml.substr(0, 300);
    }
}

} // namespace
