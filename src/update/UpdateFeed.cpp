#include "update/UpdateFeed.h"

#include "update/FvVersionComparator.h"
#include "update/UpdateRecord.h"

#include <cstring>

#include <tinyxml2.h>

using namespace tinyxml2;

namespace {

QString attribute(const XMLElement* pElement, const char* name)
{
    const char* value = pElement->Attribute(name);
    return value ? QString::fromUtf8(value) : QString();
}

void readDownloads(const XMLElement* pRoot, QUpdateFeed* pFeed)
{
    if (const XMLElement* pDownload = pRoot->FirstChildElement("download"))
        pFeed->macUrl = attribute(pDownload, "mac");
    for (const XMLElement* pRelease = pRoot->FirstChildElement("release");
         pRelease && pFeed->downloads.size() < UpdateFeedUtils::kMaxDownloads;
         pRelease = pRelease->NextSiblingElement("release")) {
        const char* record = pRelease->Attribute("record");
        const char* signature = pRelease->Attribute("signature");
        if (record && signature)
            pFeed->downloads.append({attribute(pRelease, "url"), QByteArray::fromBase64(record),
                                     QByteArray::fromBase64(signature)});
    }
}

// The first text of the item in the language, or null.
const char* itemText(const XMLElement* pItem, const QString& language)
{
    const QByteArray lang = language.toUtf8();
    for (const XMLElement* pHtml = pItem->FirstChildElement("html"); pHtml;
         pHtml = pHtml->NextSiblingElement("html")) {
        const char* htmlLang = pHtml->Attribute("lang");
        if (htmlLang && lang == htmlLang)
            return pHtml->GetText();
    }
    return nullptr;
}

QUpdateRelease readRelease(const XMLElement* pVersion, const QString& name, const QDate& date,
                           const QString& language)
{
    QUpdateRelease release;
    release.version = name;
    release.date = date;
    for (const XMLElement* pItem = pVersion->FirstChildElement("item"); pItem;
         pItem = pItem->NextSiblingElement("item")) {
        const char* type = pItem->Attribute("type");
        const char* text = itemText(pItem, language);
        if (type && text)
            release.addItem(type, text);
    }
    return release;
}

} // namespace

bool UpdateFeedUtils::parseFeed(const QByteArray& xml, const QString& currentVersion,
                                const QString& language, const QDate& today, QUpdateFeed* pFeed)
{
    *pFeed = QUpdateFeed();
    XMLDocument document(true, PRESERVE_WHITESPACE);
    // constData() ends at the array's terminating NUL, so the parse stops at the first one.
    if (document.Parse(xml.constData()) != XML_SUCCESS)
        return false;
    const XMLElement* pRoot = document.RootElement();
    if (!pRoot)
        return true;
    readDownloads(pRoot, pFeed);
    const std::string current = currentVersion.toStdString();
    for (const XMLElement* pVersion = pRoot->FirstChildElement("version"); pVersion;
         pVersion = pVersion->NextSiblingElement("version")) {
        const char* name = pVersion->Attribute("name");
        // Comparing a huge version string costs time growing with its square.
        if (!name || strlen(name) > size_t(UpdateRecordUtils::kMaxVersionChars))
            continue;
        if (pFeed->releases.size() >= kMaxReleases)
            break;
        if (FvVersionComparator::CompareVersions(name, current) != FvVersionComparator::kDescending)
            break;
        const char* dateText = pVersion->Attribute("date");
        const QDate date =
            dateText ? QDate::fromString(QString::fromUtf8(dateText), QStringLiteral("d.M.yyyy"))
                     : today;
        pFeed->releases.append(readRelease(pVersion, QString::fromUtf8(name), date, language));
    }
    return true;
}
