// What a fuzz target does when a property of its input does not hold: stop at once, so that
// libFuzzer keeps the input.
#pragma once

inline void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
