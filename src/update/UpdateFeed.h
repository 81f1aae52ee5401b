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

// What the release feed says. The download element names the update for every platform:
// "mac" (a ZIP of the bundle), "linux" (a .tar.gz holding one folder with bin/thermora) and
// "deb" (the Debian package), each with its SHA-256 in "<name>_sha256".
struct QUpdateFeed
{
    QString macUrl;
    QString archiveUrl;
    QString archiveSha256;
    QString packageUrl;
    QString packageSha256;
    QVector<QUpdateRelease> releases; // newest first
};

namespace UpdateFeedUtils {
// Parses the decompressed feed (up to the first NUL). Keeps the releases newer than
// currentVersion, stopping at the first that is not; a release without a date is dated
// today. False when the XML is not well-formed; the feed is then left cleared.
bool parseFeed(const QByteArray& xml, const QString& currentVersion, const QString& language,
               const QDate& today, QUpdateFeed* pFeed);
} // namespace UpdateFeedUtils
