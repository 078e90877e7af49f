#include "support/krvbase.h"

#include <cstring>

bool operator==(const KRVGUID& left, const KRVGUID& right) noexcept
{
    return std::memcmp(&left, &right, sizeof(KRVGUID)) == 0;
}
