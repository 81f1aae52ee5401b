#pragma once

#include <QtGlobal>

// The simulator's random source: values that depend only on the seed and their inputs, so that
// a run repeats.
namespace SimRandomUtils {

// A well-mixed 64-bit hash (splitmix64's finaliser).
inline quint64 mix(quint64 nValue)
{
    nValue += 0x9E3779B97F4A7C15ULL;
    nValue = (nValue ^ (nValue >> 30)) * 0xBF58476D1CE4E5B9ULL;
    nValue = (nValue ^ (nValue >> 27)) * 0x94D049BB133111EBULL;
    return nValue ^ (nValue >> 31);
}

} // namespace SimRandomUtils
