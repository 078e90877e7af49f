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
// automatic updating, and a product code longer than a field holds.
TEST(PatchRelay, DescriptiveNameAndAutomaticUpdateFollowTheEntry)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    UpdaterStandIn updater;
    {
        CPatchRelay relay;
        relay.AddProduct(L"{A}", L"Named", L"1.0", L"en", nullptr, FALSE, TRUE);
        relay.AddProduct(L"{B}", L"Empty", L"1.0", L"en", L"", TRUE, FALSE);
        relay.AddProduct(std::wstring(300, L'g').c_str(), L"Long", L"1.0", L"en", L"d", TRUE, TRUE);
        ASSERT_EQ(3u, relay.Products().size());
        EXPECT_EQ(std::wstring(259, L'g'), relay.Products()[2].ProductGuid) << "fields hold 259 characters";
        EXPECT_EQ(S_OK, relay.Register());
    }
    const std::vector<std::string> journal = updater.Journal();
    ASSERT_EQ(2u + 3u * 4u + 6u, journal.size());
    const std::vector<std::string> named(journal.begin() + 3, journal.begin() + 10);
    EXPECT_EQ((std::vector<std::string>{"SetProperty({A}, DescriptiveName, Named)", "SetProperty({A}, AUTOPATCHRELAY, NO)",
                                        "SetProperty({A}, AUTOPATCHRELAYTYPE, NOISY)",
                                        "RegisterProduct(Empty, 1.0, en, \"\", {B})",
                                        "SetProperty({B}, DescriptiveName, )", "SetProperty({B}, AUTOPATCHRELAY, YES)",
                                        "SetProperty({B}, AUTOPATCHRELAYTYPE, NOISY)"}),
              named);
    CoUninitialize();
}

} // namespace
