// The release-feed parser on arbitrary bytes: it must come back, well-formed or not, and what it
// keeps must be releases newer than the running version, in feed order.
#include "update/FvVersionComparator.h"
#include "update/UpdateFeed.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QUpdateFeed feed;
    const bool bOk = UpdateFeedUtils::parseFeed(xml, QStringLiteral("1.1.8"), QStringLiteral("en"),
                                                QDate(2026, 1, 1), &feed);
    if (!bOk && !feed.releases.isEmpty())
        abort();
    for (const QUpdateRelease& release : feed.releases) {
        if (FvVersionComparator::CompareVersions(release.version.toStdString(), "1.1.8") !=
            FvVersionComparator::kDescending)
            abort();
    }
    return 0;
}
