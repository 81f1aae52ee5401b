#include "update/FvVersionComparator.h"

#include <gtest/gtest.h>

struct VersionPair
{
    const char* a;
    const char* b;
    int result; // a against b
};

class VersionOrder : public ::testing::TestWithParam<VersionPair>
{
};

// Each pair is also checked the other way round: the order must be antisymmetric.
TEST_P(VersionOrder, ComparesBothWays)
{
    const VersionPair& p = GetParam();
    EXPECT_EQ(FvVersionComparator::CompareVersions(p.a, p.b), p.result) << p.a << " vs " << p.b;
    EXPECT_EQ(FvVersionComparator::CompareVersions(p.b, p.a), -p.result) << p.b << " vs " << p.a;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, VersionOrder,
    ::testing::Values(VersionPair{"1.1.8", "1.1.8", 0}, VersionPair{"1.1.9", "1.1.8", 1},
                      VersionPair{"1.1.8", "1.1.10", -1}, VersionPair{"1.10", "1.9", 1},
                      VersionPair{"1.2", "1.2.1", -1}, VersionPair{"1.2", "1.2b3", 1},
                      VersionPair{"1.2b3", "1.2rc1", -1}, VersionPair{"1.2a", "1.2c", -1},
                      VersionPair{"1.2b", "1.2b2", -1}, VersionPair{"1..2", "1.2", -1},
                      VersionPair{"", "", 0}, VersionPair{"", "1", -1},
                      VersionPair{"1.05", "1.5", 0}, VersionPair{"2.0rc1", "2.0", -1},
                      VersionPair{"2.0-1", "2.0.1", 0}, VersionPair{"1.a", "1.0", -1},
                      VersionPair{"1.0", "1 0", 0}, VersionPair{"2.0 rc1", "2.0", 1}));
