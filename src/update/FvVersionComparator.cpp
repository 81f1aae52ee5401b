#include "update/FvVersionComparator.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

int FvVersionComparator::TypeOfCharacter(const std::string& character)
{
    if (character == ".")
        return kSeparatorType;
    const unsigned char c = character.empty() ? 0 : static_cast<unsigned char>(character[0]);
    if (isdigit(c))
        return kNumberType;
    if (isspace(c) || ispunct(c))
        return kSeparatorType;
    return kStringType;
}

std::vector<std::string> FvVersionComparator::SplitVersionString(const std::string& version)
{
    std::vector<std::string> parts;
    if (version.empty())
        return parts;
    std::string current(1, version[0]);
    int nOldType = TypeOfCharacter(current);
    for (size_t i = 1; i < version.size(); ++i) {
        const std::string character(1, version[i]);
        const int nNewType = TypeOfCharacter(character);
        // Every separator is a piece of its own.
        if (nOldType != nNewType || nOldType == kSeparatorType) {
            parts.push_back(current);
            current = character;
        } else {
            current += character;
        }
        nOldType = nNewType;
    }
    parts.push_back(current);
    return parts;
}

namespace {
// A number or separator beats a string; a number beats a separator.
int compareDifferentTypes(int nTypeA, int nTypeB)
{
    if (nTypeA == FvVersionComparator::kStringType)
        return FvVersionComparator::kAscending;
    if (nTypeB == FvVersionComparator::kStringType)
        return FvVersionComparator::kDescending;
    return nTypeA == FvVersionComparator::kNumberType ? FvVersionComparator::kDescending
                                                      : FvVersionComparator::kAscending;
}

int comparePieces(const std::string& a, const std::string& b, int nType)
{
    if (nType == FvVersionComparator::kNumberType) {
        const int nA = atoi(a.c_str());
        const int nB = atoi(b.c_str());
        if (nA != nB)
            return nA > nB ? FvVersionComparator::kDescending : FvVersionComparator::kAscending;
    } else if (nType == FvVersionComparator::kStringType) {
        const int n = a.compare(b);
        if (n != 0)
            return n > 0 ? FvVersionComparator::kDescending : FvVersionComparator::kAscending;
    }
    return FvVersionComparator::kSame;
}
} // namespace

int FvVersionComparator::CompareVersions(const std::string& versionA, const std::string& versionB)
{
    const std::vector<std::string> partsA = SplitVersionString(versionA);
    const std::vector<std::string> partsB = SplitVersionString(versionB);
    const size_t nCommon = std::min(partsA.size(), partsB.size());
    for (size_t i = 0; i < nCommon; ++i) {
        const int nTypeA = TypeOfCharacter(partsA[i]);
        const int nTypeB = TypeOfCharacter(partsB[i]);
        if (nTypeA != nTypeB)
            return compareDifferentTypes(nTypeA, nTypeB);
        const int nResult = comparePieces(partsA[i], partsB[i], nTypeA);
        if (nResult != kSame)
            return nResult;
    }
    if (partsA.size() == partsB.size())
        return kSame;
    // The first extra piece decides: a letter suffix marks a pre-release.
    const bool bALonger = partsA.size() > partsB.size();
    const std::string& extra = bALonger ? partsA[nCommon] : partsB[nCommon];
    const bool bLongerIsNewer = TypeOfCharacter(extra) != kStringType;
    return (bALonger == bLongerIsNewer) ? kDescending : kAscending;
}
