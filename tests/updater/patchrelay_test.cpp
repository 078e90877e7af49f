#include "updater/patchrelay.h"

#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

using InstallToolBox::CPatchRelay;
using namespace testsupport;

namespace {

class PatchRelayTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
    UpdaterStandIn m_updater;
};

TEST_F(PatchRelayTest, EmptyListStillCreatesAndReleasesBothObjectsTwice)
{
    {
        CPatchRelay relay;
        EXPECT_EQ(S_OK, relay.Register());
        EXPECT_EQ(S_OK, relay.Unregister());
    }
    const std::vector<std::string> twice = {"create ProductRegistry", "create GroupRegistry",
                                            "release ProductRegistry", "release GroupRegistry",
                                            "create ProductRegistry", "create GroupRegistry",
                                            "release ProductRegistry", "release GroupRegistry"};
    std::vector<std::string> expected = twice;
    expected.insert(expected.end(), twice.begin(), twice.end());
    EXPECT_EQ(expected, m_updater.Journal());
}

TEST_F(PatchRelayTest, DescriptiveNameAndAutomaticUpdateFollowTheEntry)
{
    {
        CPatchRelay relay;
        relay.AddProduct(L"{A}", L"Named", L"1.0", L"en", nullptr, FALSE, TRUE);
        relay.AddProduct(L"{B}", L"Empty", L"1.0", L"en", L"", TRUE, FALSE);
        relay.AddProduct(std::wstring(300, L'g').c_str(), L"Long", L"1.0", L"en", L"d", TRUE, TRUE);
        ASSERT_EQ(3u, relay.Products().size());
        EXPECT_EQ(std::wstring(259, L'g'), relay.Products()[2].ProductGuid) << "fields hold 259 characters";
        EXPECT_EQ(S_OK, relay.Register());
    }
    const std::vector<std::string> journal = m_updater.Journal();
    ASSERT_EQ(2u + 3u * 4u + 6u, journal.size());
    EXPECT_EQ("SetProperty({A}, DescriptiveName, Named)", journal[3]) << "no name given: the product name";
    EXPECT_EQ("SetProperty({A}, AUTOPATCHRELAY, NO)", journal[4]);
    EXPECT_EQ("SetProperty({A}, AUTOPATCHRELAYTYPE, NOISY)", journal[5]) << "silent alone is not silent updating";
    EXPECT_EQ("SetProperty({B}, DescriptiveName, )", journal[7]);
    EXPECT_EQ("SetProperty({B}, AUTOPATCHRELAY, YES)", journal[8]);
    EXPECT_EQ("SetProperty({B}, AUTOPATCHRELAYTYPE, NOISY)", journal[9]);
}

TEST_F(PatchRelayTest, RefusedDescriptiveNameSkipsTheAutomaticUpdateProperties)
{
    m_updater.Fail(L"SetProperty", L"DescriptiveName");
    {
        CPatchRelay relay;
        relay.AddProduct(L"{A}", L"First", L"1.0", L"en", L"d", TRUE, TRUE);
        relay.AddProduct(L"{B}", L"Second", L"1.0", L"en", L"d", TRUE, TRUE);
        EXPECT_EQ(S_OK, relay.Register()) << "a refused property never fails the registration";
    }
    const std::vector<std::string> journal = m_updater.Journal();
    const std::vector<std::string> calls(journal.begin() + 2, journal.begin() + 6);
    EXPECT_EQ((std::vector<std::string>{"RegisterProduct(First, 1.0, en, \"\", {A})", "SetProperty({A}, DescriptiveName, d)",
                                        "RegisterProduct(Second, 1.0, en, \"\", {B})",
                                        "SetProperty({B}, DescriptiveName, d)"}),
              calls);
}

} // namespace
