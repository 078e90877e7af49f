#include "updater/patchrelay.h"

#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

using InstallToolBox::CPatchRelay;
using namespace testsupport;

namespace {

// Entries the installation never makes: no descriptive name, an empty one, silent without
// automatic updating.
TEST(PatchRelay, DescriptiveNameAndAutomaticUpdateFollowTheEntry)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    UpdaterStandIn updater;
    {
        CPatchRelay relay;
        relay.AddProduct(L"{A}", L"Named", L"1.0", L"en", nullptr, FALSE, TRUE);
        relay.AddProduct(L"{B}", L"Empty", L"1.0", L"en", L"", TRUE, FALSE);
        EXPECT_EQ(S_OK, relay.Register());
    }
    const std::vector<std::string> journal = updater.Journal();
    ASSERT_EQ(2u + 2u * 4u + 6u, journal.size());
    const std::vector<std::string> named(journal.begin() + 3, journal.begin() + 10);
    EXPECT_EQ((std::vector<std::string>{
                  "SetProperty({A}, DescriptiveName, Named)", "SetProperty({A}, AUTOPATCHRELAY, NO)",
                  "SetProperty({A}, AUTOPATCHRELAYTYPE, NOISY)", "RegisterProduct(Empty, 1.0, en, \"\", {B})",
                  "SetProperty({B}, DescriptiveName, )", "SetProperty({B}, AUTOPATCHRELAY, YES)",
                  "SetProperty({B}, AUTOPATCHRELAYTYPE, NOISY)"}),
              named);
    CoUninitialize();
}

} // namespace
