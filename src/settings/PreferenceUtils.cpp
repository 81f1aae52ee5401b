#include "settings/PreferenceUtils.h"

#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"

QString PreferenceUtils::getString(const QString& key)
{
    const QPreferences* pPreferences = QCoreServices::preferences();
    return pPreferences ? pPreferences->getString(key) : QString();
}

int PreferenceUtils::getInt(const QString& key)
{
    const QPreferences* pPreferences = QCoreServices::preferences();
    return pPreferences ? pPreferences->getInt(key, -1) : -1;
}

void PreferenceUtils::setString(const QString& key, const QString& value)
{
    if (QPreferences* pPreferences = QCoreServices::preferences()) {
        pPreferences->setString(key, value);
    }
}

void PreferenceUtils::setInt(const QString& key, int nValue)
{
    if (QPreferences* pPreferences = QCoreServices::preferences()) {
        pPreferences->setInt(key, nValue);
    }
}
