// Writes the seed corpora of the fuzz targets: valid record files and control files, plain and
// enciphered, of assorted shapes.
#include <cstdio>
#include <string>
#include <vector>

#include "framework/blowfish.h"
#include "framework/md5.h"
#include "framework/recordstore.h"
#include "update/scdcontainer.h"

using namespace InstallToolBox;

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

// A record file holding one record of a type the store does not create itself.
std::vector<uint8_t> UnknownTypeFile()
{
    std::vector<uint8_t> file(28 + 40 + 16, 0);
    const uint32_t header[3] = {RECORD_FILE_MAGIC, RECORD_FILE_VERSION, 1};
    for (int i = 0; i < 12; ++i)
        file[i] = uint8_t(header[i / 4] >> (8 * (i % 4)));
    const char name[] = "Opaque";
    std::copy(name, name + sizeof(name), file.begin() + 28);
    file[28 + 32] = 5;
    file[28 + 36] = 16;
    for (int i = 0; i < 16; ++i)
        file[28 + 40 + i] = uint8_t(i * 17);

    CBlowfish cipher;
    if (!cipher.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE))
        return {};
    cipher.Encipher(file.data() + 28, 56);
    CMd5 md5;
    md5.Update(file.data(), 12);
    md5.Update(file.data() + 28, 56);
    md5.Final(file.data() + 12);
    cipher.Encipher(file.data() + 12, 16);
    return file;
}

bool WriteRecordSeeds(const std::string& dir)
{
    std::vector<std::vector<uint8_t>> files;
    for (int shape = 0; shape < 5; ++shape) {
        CRecordStore store;
        if (store.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE) != RS_SUCCESS)
            return false;
        if (shape >= 1)
            store.SetDword("Install", 1);
        if (shape >= 2) {
            store.SetString("SUB_PR_Action", "1");
            store.SetString("INSTALLDIR", "C:\\Program Files\\Korvalin\\");
            store.SetString("Empty", "");
        }
        if (shape >= 3)
            store.SetString(std::string(31, 'N').c_str(), std::string(2047, 'v').c_str());
        if (shape >= 4) {
            for (int i = 0; i < 40; ++i)
                store.SetString(("LongProp" + std::to_string(i) + ":Value").c_str(),
                                std::string(size_t(i * 7), 'p').c_str());
        }
        std::vector<uint8_t> file;
        if (store.Save(file) != RS_SUCCESS)
            return false;
        files.push_back(file);
    }
    files.push_back(UnknownTypeFile());
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].empty() || !WriteFile(dir + "/recordstore/seed" + std::to_string(i), files[i]))
            return false;
    }
    return true;
}

bool WriteContainerSeeds(const std::string& dir)
{
    const std::string xml =
        "<?xml version=\"1.0\"?>\r\n<controldata>\r\n  <control name=\"Default\" type=\"1\"/>\r\n</controldata>\r\n";
    const uint8_t dataKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 1, 2, 3, 4, 5, 6, 7, 8};
    int n = 0;
    for (size_t size : {size_t(1), size_t(7), size_t(100), size_t(127), xml.size()}) {
        std::vector<uint8_t> content(size + 1, 0);
        for (size_t i = 0; i < size; ++i)
            content[i] = uint8_t(xml[i % xml.size()]);
        std::vector<uint8_t> plain(content.begin(), content.end() - 1);
        std::vector<uint8_t> enciphered;
        if (!clfs::update::scd::BuildFile(content.data(), content.size(), dataKey, enciphered))
            return false;
        if (!WriteFile(dir + "/scdcontainer/plain" + std::to_string(n), plain) ||
            !WriteFile(dir + "/scdcontainer/enciphered" + std::to_string(n), enciphered))
            return false;
        ++n;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <seed folder>\n");
        return 2;
    }
    if (!WriteRecordSeeds(argv[1]) || !WriteContainerSeeds(argv[1])) {
        std::fprintf(stderr, "fuzz_seeds: cannot write the seeds under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
