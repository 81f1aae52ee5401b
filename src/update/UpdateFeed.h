#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>

// One change of a release: its kind ("fixed", "improved", "new") and its HTML text.
struct QUpdateReleaseItem
{
    QString type;
    QString text;
};

// One release newer than the running program, with its notes in the user's language.
struct QUpdateRelease
{
    QString version;
    QDate date;
    QVector<QUpdateReleaseItem> items;

    void addItem(const char* type, const char* text)
    {
        items.append({QString::fromUtf8(type), QString::fromUtf8(text)});
    }
};

// One signed download of the feed: where it lies, and its record with the publisher's
// signature (both as served; nothing of them is believed before the signature is checked).
struct QUpdateDownload
{
    QString url;
    QByteArray record;
    QByteArray signature;
};

// What the release feed says: the signed downloads ("release" elements, at most one per
// platform is kept, the first) and the release notes of the versions newer than the running one.
struct QUpdateFeed
{
    QString macUrl;
    QVector<QUpdateDownload> downloads;
    QVector<QUpdateRelease> releases; // newest first
};

namespace UpdateFeedUtils {
// Parses the decompressed feed (up to the first NUL). Keeps the releases newer than
// currentVersion, stopping at the first that is not; a release without a date is dated
// today. At most kMaxReleases are kept, and a version longer than 64 characters is skipped.
// False when the XML is not well-formed; the feed is then left cleared.
const int kMaxReleases = 50;
const int kMaxDownloads = 8;
bool parseFeed(const QByteArray& xml, const QString& currentVersion, const QString& language,
               const QDate& today, QUpdateFeed* pFeed);
} // namespace UpdateFeedUtils
