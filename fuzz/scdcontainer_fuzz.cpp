// Feeds arbitrary bytes to the control-file reader. What it hands out must be the plain file
// and a zero byte, or L deciphered bytes within the body ending in a zero byte; enciphering
// that content again must read back the same.
#include <cstring>
#include <vector>

#include "update/scdcontainer.h"
#include "check.h"

using namespace clfs::update::scd;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> content;
    const ReadStatus status = ReadContent(data, size, content);
    switch (status) {
    case SCD_READ_PLAIN:
        Check(content.size() == size + 1 && content.back() == 0 && std::memcmp(content.data(), data, size) == 0);
        break;
    case SCD_READ_DECIPHERED:
        Check(size >= SCD_HEADER_SIZE && HasMagic(data));
        Check(!content.empty() && content.size() <= size - SCD_HEADER_SIZE && content.back() == 0);
        break;
    case SCD_READ_EMPTY:
    case SCD_READ_DAMAGED:
        return 0;
    default:
        Check(false);
    }

    const uint8_t dataKey[SCD_KEY_SIZE] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<uint8_t> file;
    Check(BuildFile(content.data(), content.size(), dataKey, file));
    std::vector<uint8_t> back;
    Check(ReadContent(file.data(), file.size(), back) == SCD_READ_DECIPHERED);
    Check(back == content);
    return 0;
}
