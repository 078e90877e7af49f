// Feeds arbitrary bytes to the record-file reader three ways: verified as given, unverified,
// and verified after the harness has put the right digest in place, so that the record parser
// behind the digest check is reached too. A file that loads must save, and the saved file must
// load again with the same count.
#include <cstring>
#include <vector>

#include "framework/blowfish.h"
#include "framework/md5.h"
#include "framework/recordstore.h"
#include "check.h"

using namespace InstallToolBox;

namespace {

void Exercise(const uint8_t* data, size_t size, bool verify)
{
    CRecordStore store;
    Check(store.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE) == RS_SUCCESS);
    const int status = store.Load(data, size, verify);
    Check(status == RS_SUCCESS || status == RS_BAD_FORMAT || status == RS_BAD_CHECKSUM);

    char buffer[64];
    uint32_t value = 0;
    store.GetString("Install", buffer, sizeof(buffer), "default");
    store.GetDword("Install", &value, 0);
    store.SetString("Added", "value");

    std::vector<uint8_t> saved;
    Check(store.Save(saved) == RS_SUCCESS);
    if (status != RS_SUCCESS || saved.size() > RECORD_MAX_FILE_SIZE)
        return;
    CRecordStore again;
    Check(again.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE) == RS_SUCCESS);
    Check(again.Load(saved.data(), saved.size(), true) == RS_SUCCESS);
    Check(again.GetCount() == store.GetCount());
}

std::vector<uint8_t> WithDigest(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    CMd5 md5;
    md5.Update(file.data(), 12);
    md5.Update(file.data() + RECORD_HEADER_SIZE, file.size() - RECORD_HEADER_SIZE);
    md5.Final(file.data() + 12);
    CBlowfish cipher;
    Check(cipher.Init(g_abInstoptsKey, INSTOPTS_KEY_SIZE));
    cipher.Encipher(file.data() + 12, 16);
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Exercise(data, size, true);
    Exercise(data, size, false);
    if (size >= RECORD_HEADER_SIZE) {
        const std::vector<uint8_t> repaired = WithDigest(data, size);
        Exercise(repaired.data(), repaired.size(), true);
    }
    return 0;
}
