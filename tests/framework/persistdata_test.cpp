#include "framework/instoptsdat.h"
#include "framework/persistdata.h"
#include "framework/pendingrename.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

uint32_t Le32(const std::vector<unsigned char>& bytes, size_t offset)
{
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) | (uint32_t(bytes[offset + 3]) << 24);
}

class StoreFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeScratchFolder(L"store files");
        m_path = m_folder + L"\\options.dat";
        DeleteFileIfAny(TempFolder() + L"\\krvlprop.dat");
    }
    void TearDown() override
    {
        DeleteFileIfAny(TempFolder() + L"\\krvlprop.dat");
        RemoveTree(m_folder);
        DeleteKeyTree(kKorvalinKey);
    }
    std::wstring m_folder;
    std::wstring m_path;
};

TEST_F(StoreFileTest, OptionsFileIsWrittenOnlyWhenWritableAndSaved)
{
    CInstoptsDat store(0, m_path.c_str(), TRUE);
    EXPECT_FALSE(store.SetDword(L"Install", 1)) << "read-only until writing is enabled";
    EXPECT_FALSE(store.Save());
    store.EnableWriting();
    EXPECT_TRUE(store.SetDword(L"Install", 1));
    EXPECT_FALSE(FileExists(m_path)) << "sets change memory only";
    EXPECT_TRUE(store.Save());

    const std::vector<unsigned char> file = ReadFileBytes(m_path);
    ASSERT_EQ(28u + 40u + 8u, file.size());
    EXPECT_EQ(0xFE56524Bu, Le32(file, 0));
    EXPECT_EQ(1u, Le32(file, 4));
    EXPECT_EQ(1u, Le32(file, 8));

    CInstoptsDat reread(0, m_path.c_str(), TRUE);
    DWORD value = 7;
    EXPECT_TRUE(reread.GetDword("Install", &value, 0));
    EXPECT_EQ(1u, value);
    EXPECT_FALSE(reread.GetDword(L"Missing", &value, 42));
    EXPECT_EQ(42u, value);
}

TEST_F(StoreFileTest, OptionsStringsConvertThroughTheAnsiCodePage)
{
    CInstoptsDat store(0, m_path.c_str(), TRUE);
    store.EnableWriting();
    const std::wstring accented = L"Caf\u00e9 \u00fcber";
    EXPECT_TRUE(store.SetString(L"Text", accented.c_str()));
    EXPECT_TRUE(store.SetString("Five", L"12345"));
    EXPECT_TRUE(store.Save());

    CInstoptsDat reread(0, m_path.c_str(), TRUE);
    wchar_t buffer[64];
    EXPECT_TRUE(reread.GetString(L"Text", buffer, 64, nullptr));
    EXPECT_EQ(accented, buffer);
    EXPECT_FALSE(reread.GetString(L"Five", buffer, 4, nullptr)) << "five characters do not fit four";
    EXPECT_TRUE(reread.GetString(L"Five", buffer, 6, nullptr));
    EXPECT_EQ(std::wstring(L"12345"), buffer);
    EXPECT_FALSE(reread.GetString(L"Missing", buffer, 64, L"fallback"));
    EXPECT_EQ(std::wstring(L"fallback"), buffer);
    EXPECT_FALSE(reread.GetString(L"Missing", buffer, 64, nullptr));
    EXPECT_EQ(std::wstring(), buffer);
}

TEST_F(StoreFileTest, DamagedOptionsFileStartsEmptyOnlyWithAGivenPath)
{
    {
        CInstoptsDat store(0, m_path.c_str(), TRUE);
        store.EnableWriting();
        store.SetDword("Install", 1);
        ASSERT_TRUE(store.Save());
    }
    std::vector<unsigned char> file = ReadFileBytes(m_path);
    file[40] ^= 0x01;
    WriteFileBytes(m_path, file);

    DWORD value = 9;
    CInstoptsDat given(0, m_path.c_str(), TRUE);
    EXPECT_FALSE(given.GetDword("Install", &value, 0)) << "a damaged file reads as empty";
    given.EnableWriting();
    EXPECT_TRUE(given.SetDword("Install", 0));
    EXPECT_TRUE(given.Save()) << "and the next save replaces it";

    file = ReadFileBytes(m_path);
    file[40] ^= 0x01;
    WriteFileBytes(m_path, file);
    CInstoptsDat found(0, m_path.c_str(), FALSE);
    found.EnableWriting();
    EXPECT_FALSE(found.GetDword("Install", &value, 0));
    EXPECT_FALSE(found.SetDword("Install", 1)) << "without a given path the damaged file is dropped";
    EXPECT_FALSE(found.Save());
}

TEST_F(StoreFileTest, RegisteredOptionsFileIsPreferredWithoutAGivenPath)
{
    const std::wstring registered = m_folder + L"\\registered.dat";
    {
        CInstoptsDat store(0, registered.c_str(), TRUE);
        store.EnableWriting();
        store.SetString("Origin", L"registry");
        ASSERT_TRUE(store.Save());
    }
    SetString(kKorvalinKey, L"Instopts", registered);
    wchar_t buffer[32];
    CInstoptsDat lookedUp(0, m_path.c_str(), FALSE);
    EXPECT_TRUE(lookedUp.GetString("Origin", buffer, 32, nullptr));
    EXPECT_EQ(std::wstring(L"registry"), buffer);

    CInstoptsDat missing(0, (m_folder + L"\\absent.dat").c_str(), TRUE);
    EXPECT_FALSE(missing.GetString("Origin", buffer, 32, nullptr)) << "a given path ignores the registry";
}

TEST_F(StoreFileTest, PersistDataSavesEveryChangeAndDiscardsItsFile)
{
    // A name that exists is used as it stands; the empty file reads as an empty store.
    WriteFileBytes(m_path, {});
    CPersistData first(m_path.c_str());
    EXPECT_EQ(m_path, first.Path());
    EXPECT_TRUE(first.SetString(L"Name", L"value"));
    EXPECT_TRUE(first.SetDword(L"Number", 5));

    CPersistData second(m_path.c_str());
    EXPECT_EQ(m_path, second.Path());
    wchar_t buffer[16];
    DWORD number = 0;
    EXPECT_TRUE(second.GetString(L"Name", buffer, 16));
    EXPECT_EQ(std::wstring(L"value"), buffer);
    EXPECT_TRUE(second.GetDword(L"Number", &number));
    EXPECT_EQ(5u, number);
    number = 3;
    EXPECT_FALSE(second.GetDword(L"Missing", &number));
    EXPECT_EQ(0u, number);
    EXPECT_FALSE(second.GetString(L"Number", buffer, 16)) << "a 32-bit value is not a string";
    EXPECT_FALSE(second.SetString(std::wstring(32, L'n').c_str(), L"x")) << "names of 32 characters do not fit";
    EXPECT_FALSE(second.SetString(L"Long", std::wstring(2048, L'v').c_str()));
    EXPECT_TRUE(second.SetString(L"Long", std::wstring(2047, L'v').c_str()));

    EXPECT_EQ(kDeleted, second.Discard());
    EXPECT_FALSE(FileExists(m_path));
    EXPECT_FALSE(second.SetDword(L"Number", 1)) << "nothing works after Discard";
    EXPECT_FALSE(second.GetDword(L"Number", &number));
}

TEST_F(StoreFileTest, PersistDataPlacesNewFilesInTheTemporaryFolder)
{
    CPersistData store(L"submca-placement.dat");
    EXPECT_EQ(TempFolder() + L"\\submca-placement.dat", store.Path());
    EXPECT_TRUE(store.SetDword(L"Install", 1));
    EXPECT_TRUE(FileExists(TempFolder() + L"\\submca-placement.dat"));
    store.Discard();
}

TEST_F(StoreFileTest, PropertyFileKeepsLongNamesThroughAnIndex)
{
    const std::wstring thirty(30, L'P');
    const std::wstring longFirst = std::wstring(31, L'L');
    const std::wstring longSecond = std::wstring(40, L'M');
    CPropertyData store(0);
    EXPECT_TRUE(store.SetProperty(thirty.c_str(), L"short", TRUE));
    EXPECT_TRUE(store.SetProperty(longFirst.c_str(), L"first", FALSE)) << "without a session the file is used";
    EXPECT_TRUE(store.SetProperty(longSecond.c_str(), L"second", TRUE));

    CPersistData raw(L"krvlprop.dat");
    wchar_t buffer[64];
    DWORD index = 9;
    EXPECT_TRUE(raw.GetString(thirty.c_str(), buffer, 64));
    EXPECT_TRUE(raw.GetString(L"LongProp0:Name", buffer, 64));
    EXPECT_EQ(longFirst, buffer);
    EXPECT_TRUE(raw.GetString(L"LongProp0:Value", buffer, 64));
    EXPECT_EQ(std::wstring(L"first"), buffer);
    EXPECT_TRUE(raw.GetString(L"LongProp1:Name", buffer, 64));
    EXPECT_EQ(longSecond, buffer);
    EXPECT_TRUE(raw.GetDword(L"LongProp:Count", &index));
    EXPECT_EQ(1u, index);

    CPropertyData reader(0);
    EXPECT_TRUE(reader.GetProperty(longSecond.c_str(), buffer, 64, FALSE));
    EXPECT_EQ(std::wstring(L"second"), buffer);
    EXPECT_TRUE(reader.GetProperty(longFirst.c_str(), buffer, 64, TRUE));
    EXPECT_EQ(std::wstring(L"first"), buffer);
    EXPECT_FALSE(reader.GetProperty(std::wstring(35, L'Z').c_str(), buffer, 64, FALSE));
    EXPECT_FALSE(reader.SetDword(L"UC:PROP_COUNT", 5)) << "not part of the property interface";
    EXPECT_FALSE(reader.GetDword(L"LongProp:Count", &index));
}

TEST_F(StoreFileTest, PropertyFileGoesWithItsLastUser)
{
    const std::wstring file = TempFolder() + L"\\krvlprop.dat";
    {
        CPropertyData first(0);
        EXPECT_TRUE(first.AddRef());
    }
    {
        CPropertyData second(0);
        EXPECT_TRUE(second.AddRef());
    }
    DWORD count = 0;
    {
        CPersistData raw(L"krvlprop.dat");
        EXPECT_TRUE(raw.GetDword(L"UC:PROP_COUNT", &count));
        EXPECT_EQ(2u, count);
    }
    {
        CPropertyData user(0);
        user.Discard();
    }
    {
        CPersistData raw(L"krvlprop.dat");
        EXPECT_TRUE(raw.GetDword(L"UC:PROP_COUNT", &count));
        EXPECT_EQ(1u, count);
    }
    {
        CPropertyData user(0);
        user.Discard();
    }
    EXPECT_FALSE(FileExists(file));

    {
        CPropertyData uncounted(0);
        EXPECT_TRUE(uncounted.SetProperty(L"Name", L"value", TRUE));
    }
    ASSERT_TRUE(FileExists(file));
    {
        CPropertyData user(0);
        user.Discard();
    }
    EXPECT_FALSE(FileExists(file)) << "a file without a use count goes at once";
}

TEST_F(StoreFileTest, PropertiesComeFromTheSessionOnlyInTheSchedulingCall)
{
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE package = 0;
    ASSERT_EQ(0u, MsiOpenPackageW((std::wstring(SUBMCA_PACKAGE_DIR) + L"\\installedapps.msi").c_str(), &package));
    CPropertyData store(package);
    EXPECT_TRUE(store.SetProperty(L"SUBMCATEST", L"session", FALSE));
    EXPECT_TRUE(store.SetProperty(L"SUBMCATEST", L"file", TRUE));

    wchar_t buffer[32];
    DWORD size = 32;
    ASSERT_EQ(0u, MsiGetPropertyW(package, L"SUBMCATEST", buffer, &size));
    EXPECT_EQ(std::wstring(L"session"), buffer);
    EXPECT_TRUE(store.GetProperty(L"SUBMCATEST", buffer, 32, FALSE));
    EXPECT_EQ(std::wstring(L"session"), buffer);
    EXPECT_TRUE(store.GetProperty(L"SUBMCATEST", buffer, 32, TRUE));
    EXPECT_EQ(std::wstring(L"file"), buffer);
    EXPECT_FALSE(store.GetProperty(L"SUBMCATEST", buffer, 4, FALSE)) << "the session value does not fit";
    MsiCloseHandle(package);
}

} // namespace
