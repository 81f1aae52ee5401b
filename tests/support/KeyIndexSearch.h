#pragma once

#include <QVector>

#include <cstring>
#include <set>

// The byte-wise lower-bound search over a sorted key table, done independently of the key layer:
// returns the first index whose key is not less than `key` and collects the indices it visited,
// so a test can tell exactly which records the key layer must have fetched.
template <typename KeyRecord>
unsigned referenceLowerBound(const QVector<KeyRecord>& keys, const char* key,
                             std::set<int>& visited)
{
    unsigned begin = 0;
    unsigned end = static_cast<unsigned>(keys.size());
    while (begin != end) {
        const unsigned middle = begin + (end - begin) / 2;
        visited.insert(static_cast<int>(middle));
        if (strcmp(keys.at(static_cast<int>(middle)).key.constData(), key) < 0)
            begin = middle + 1;
        else
            end = middle;
    }
    return begin;
}
