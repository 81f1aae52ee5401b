#pragma once

#include <string>
#include <vector>

// Decides which of two version strings is newer. A version is a run of number pieces, letter
// pieces and separators, so 1.10 is newer than 1.9 and a final 1.0 newer than the pre-release
// 1.0b1. Byte strings; stateless.
class FvVersionComparator
{
public:
    enum CharacterType
    {
        kNumberType = 0,
        kStringType = 1,
        kSeparatorType = 2
    };
    enum ComparatorResult
    {
        kAscending = -1,
        kSame = 0,
        kDescending = 1
    };

    // The class of a piece, from its first character.
    static int TypeOfCharacter(const std::string& character);
    static std::vector<std::string> SplitVersionString(const std::string& version);
    // kDescending when versionA is newer, kAscending when it is older.
    static int CompareVersions(const std::string& versionA, const std::string& versionB);
};
