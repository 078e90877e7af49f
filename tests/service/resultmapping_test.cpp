#include "tests/common/tracecapture.h"
#include "service/krvresult.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Every row of the runtime's table, in its order, then five codes outside it: failure codes are
// traced whether or not they are in the table, success codes never.
TEST(KrvresultToHresult, MapsEveryCodeOfTheTableAndNothingElse)
{
    const unsigned long cases[][2] = {
        {0x00010000, 0x00000000}, {0x8001FFFF, 0x80004005}, {0x80010203, 0x80070057}, {0x80010200, 0x80004002},
        {0x80010201, 0x8007000E}, {0x80010202, 0x80004001}, {0x80010204, 0x80070005}, {0x80010300, 0x80070003},
        {0x80010302, 0x8007007F}, {0x80010303, 0x8007000B}, {0x00010001, 0x00000001}, {0x80000100, 0x80070490},
        {0x80000200, 0x8007007A}, {0x80000202, 0x8007054F}, {0x80000203, 0x800401F0}, {0x80000204, 0x80010110},
        {0x80000206, 0x800706F8}, {0x80000207, 0x80004011}, {0x80000208, 0x80028CA0}, {0x80000205, 0x8000FFFF},
        {0x80000201, 0x80028CA0}, {0x00010002, 0x80004005}, {0x00000000, 0x80004005}, {0x80010301, 0x80004005},
        {0x80004005, 0x80004005}, {0xFFFFFFFF, 0x80004005}};
    supporttest::CTraceCapture capture;
    for (const auto& [sr, hr] : cases) {
        char traced[24];
        std::snprintf(traced, sizeof(traced), "sr = 0x%08lX", sr);
        EXPECT_EQ(static_cast<long>(hr), clfs::utils::KrvresultToHresult(sr)) << traced;
        EXPECT_EQ(static_cast<long>(sr) < 0, capture.Take().find(traced) != std::string::npos) << traced;
    }
}

} // namespace
