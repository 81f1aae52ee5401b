#include "core/CacheCheckHelpers.h"

#include <QStringList>

#include <algorithm>

bool CacheCheckHelpers::isDamagedText(const QString& text)
{
    // Control characters and DEL are not printable either.
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c == QChar::ReplacementCharacter || !c.isPrint(); });
}

bool CacheCheckHelpers::isPlausibleSmcKey(const QString& key)
{
    return key.size() == 4 && std::all_of(key.cbegin(), key.cend(), [](QChar c) {
               return c.unicode() >= 0x20 && c.unicode() <= 0x7e;
           });
}

QString CacheCheckHelpers::cacheProblem(const QString& fans, const QString& sensors,
                                        int nControllerFans, const QString& replacedModel)
{
    if (!replacedModel.isEmpty()) {
        return QStringLiteral("cached for %1").arg(replacedModel);
    }
    // Every machine has temperature keys; a fan list alone is a half-written cache.
    if (sensors.isEmpty()) {
        return QStringLiteral("\"Fans\" without \"TempSensors\"");
    }
    if (isDamagedText(fans) || isDamagedText(sensors)) {
        return QStringLiteral("unreadable characters in the cache");
    }
    const QStringList keys = sensors.split(QLatin1Char(','));
    for (const QString& key : keys) {
        if (!isPlausibleSmcKey(key)) {
            return QStringLiteral("cached sensor key '%1' is not an SMC key").arg(key);
        }
    }
    const int nCached = fans.split(QLatin1Char(',')).size();
    if (nControllerFans >= 0 && nCached != nControllerFans) {
        return QStringLiteral("%1 cached fans, the controller has %2")
            .arg(nCached)
            .arg(nControllerFans);
    }
    return QString();
}
