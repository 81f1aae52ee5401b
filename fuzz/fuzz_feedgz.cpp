// The release feed as it arrives: arbitrary bytes through the bounded gzip stage, then the
// parser. Inflating may never pass its bound, and what is kept stays within the feed's limits.
#include "helpers/CompressionUtils.h"
#include "update/UpdateFeed.h"
#include "update/UpdateRecord.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const qint64 kMaxXml = 1 << 20;
    const QByteArray gz(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const QByteArray xml =
        CompressionUtils::DecompressByteArray(gz, CompressionUtils::GZIP, kMaxXml);
    if (xml.size() > kMaxXml)
        abort();
    QUpdateFeed feed;
    UpdateFeedUtils::parseFeed(xml, QStringLiteral("1.1.8"), QStringLiteral("en"),
                               QDate(2026, 1, 1), &feed);
    if (feed.releases.size() > UpdateFeedUtils::kMaxReleases ||
        feed.downloads.size() > UpdateFeedUtils::kMaxDownloads)
        abort();
    for (const QUpdateRelease& release : feed.releases) {
        if (release.version.toUtf8().size() > UpdateRecordUtils::kMaxVersionChars)
            abort();
    }
    return 0;
}
