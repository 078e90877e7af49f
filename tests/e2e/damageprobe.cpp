// Damages a record file in the temporary folder between two calls of an installation, as a
// scanner, a cleaner or a full disk might. What and how come from the string values "File" (a
// name in the temporary folder) and "Kind" under HKLM\Software\SubmcaTest\Damage, so that the
// same entry serves immediate and deferred calls; without them it does nothing.
//
// Kinds: "missing" deletes the file; "truncated" leaves 20 bytes, less than a header;
// "digest" flips one bit of the enciphered digest; "cut" drops the last 8 bytes, so the last
// record ends early, and seals the shortened file with a digest that matches it again.
#include "framework/blowfish.h"
#include "framework/md5.h"

#include <windows.h>

#include <msiquery.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const wchar_t kSwitchKey[] = L"Software\\SubmcaTest\\Damage";
const size_t kHeaderSize = 28;
const size_t kDigestOffset = 12;
const uint8_t kRecordKey[] = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};

std::wstring Switch(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSwitchKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

// The digest a reader expects: MD5 over the header's first 12 bytes and everything after the
// header, enciphered with the records' key.
void Seal(std::vector<uint8_t>& bytes)
{
    InstallToolBox::CMd5 md5;
    md5.Update(bytes.data(), kDigestOffset);
    md5.Update(bytes.data() + kHeaderSize, bytes.size() - kHeaderSize);
    md5.Final(bytes.data() + kDigestOffset);
    InstallToolBox::CBlowfish cipher;
    if (cipher.Init(kRecordKey, sizeof(kRecordKey)))
        cipher.Encipher(bytes.data() + kDigestOffset, InstallToolBox::MD5_DIGEST_SIZE);
}

void Damage(const std::wstring& path, const std::wstring& kind)
{
    if (kind == L"missing") {
        DeleteFileW(path.c_str());
        return;
    }
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < kHeaderSize + 8)
        return;
    if (kind == L"truncated") {
        bytes.resize(20);
    } else if (kind == L"digest") {
        bytes[kDigestOffset] ^= 0x01;
    } else if (kind == L"cut") {
        bytes.resize(bytes.size() - 8);
        Seal(bytes);
    } else {
        return;
    }
    in.close();
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" UINT __stdcall DamageRecordFile(MSIHANDLE)
{
    const std::wstring file = Switch(L"File");
    const std::wstring kind = Switch(L"Kind");
    wchar_t temp[MAX_PATH] = {};
    if (!file.empty() && GetTempPathW(MAX_PATH, temp) != 0)
        Damage(std::wstring(temp) + file, kind);
    return ERROR_SUCCESS;
}
