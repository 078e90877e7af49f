#include "bench/update/controlfile.h"

namespace updatebench {
namespace {

const char* const kProducts[] = {"Korvalin Antivirus", "Korvalin Internet Security", "Korvalin Endpoint",
                                 "Korvalin Mail Gateway"};
const char* const kVersions[] = {"11.0", "10.5"};
const unsigned long kProductElements = 8;

void AppendControl(std::string& text, unsigned long index)
{
    const std::string n = std::to_string(index);
    const bool submission = index % 2 == 0;
    text += "    <control type=\"";
    text += submission ? "Submission" : "Detection";
    text += "\" component=\"Component" + std::to_string(index / 2) + "\" componentversion=\"3." +
            std::to_string(index % 10) + "\">\r\n";
    text += "      <server port=\"" + std::string(submission ? "443" : "8443") + "\"";
    if (index % 4 < 2)
        text += " proto=\"https\"";
    text += ">qsn" + std::to_string(index % 16) + ".korvalin.example</server>\r\n";
    text += "      <probability>" + std::to_string(index % 101) + "</probability><dailyLimit>" +
            std::to_string(10 + index % 500) + "</dailyLimit>\r\n";
    text += "      <retryLimitDays>" + std::to_string(1 + index % 7) + "</retryLimitDays><retryFrequencyMinHours>" +
            std::to_string(1 + index % 24) + "</retryFrequencyMinHours>\r\n";
    text += "    </control>\r\n";
}

} // namespace

std::string MakeControlFile(unsigned long controls)
{
    std::string text = "<?xml version=\"1.0\"?>\r\n<scd>\r\n  <controlSettings scdSequence=\"2026.12.06.1\"/>\r\n";
    unsigned long next = 0;
    for (unsigned long element = 0; element < kProductElements; ++element) {
        // The remainder goes to the first elements, one each.
        const unsigned long count = controls / kProductElements + (element < controls % kProductElements ? 1 : 0);
        text += "  <product scdVersion=\"1.0\" product=\"";
        text += kProducts[element / 2];
        text += "\" productversion=\"";
        text += kVersions[element % 2];
        text += "\">\r\n";
        for (unsigned long i = 0; i < count; ++i)
            AppendControl(text, next++);
        text += "  </product>\r\n";
    }
    text += "</scd>\r\n";
    return text;
}

} // namespace updatebench
