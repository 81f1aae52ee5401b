#include "settings/QPreferences.h"

#include "QsLog/QsLog.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>

QPreferences::QPreferences(const QString& application, const QString& organization,
                           QObject* pParent)
    : QObject(pParent)
{
    m_pSettings = new QSettings(QSettings::NativeFormat, QSettings::UserScope, organization,
                                application, this);
    checkBackend();
}

QPreferences::QPreferences(const QString& iniFilePath, QObject* pParent) : QObject(pParent)
{
    m_pSettings = new QSettings(iniFilePath, QSettings::IniFormat, this);
    checkBackend();
}

QPreferences::QPreferences(QObject* pParent) : QObject(pParent)
{}

void QPreferences::checkBackend()
{
    const QSettings::Status status = m_pSettings->status();
    if (status == QSettings::NoError)
        return;
    QLOG_WARN() << "Settings file" << m_pSettings->fileName() << "could not be read, status"
                << int(status);
}

QVariant QPreferences::getValue(const QString& key, const QVariant& defaultValue) const
{
    QMutexLocker lock(&m_Mutex);
    const auto it = m_Cache.constFind(key);
    if (it != m_Cache.constEnd())
        return it.value();
    if (!m_pSettings)
        return defaultValue;
    // The first read caches whatever it found, the caller's default included, so every
    // later read agrees with it whatever default that caller passes.
    const QVariant value = m_pSettings->value(key, defaultValue);
    m_Cache.insert(key, value);
    return value;
}

void QPreferences::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_Mutex);
    if (!m_pSettings)
        return;
    m_pSettings->setValue(key, value);
    m_Cache.insert(key, value);
}

QString QPreferences::getString(const QString& key) const
{
    return getValue(key, QString()).toString();
}

void QPreferences::setString(const QString& key, const QString& value)
{
    setValue(key, value);
}

QStringList QPreferences::getStringList(const QString& key) const
{
    return getValue(key, QStringList()).toStringList();
}

void QPreferences::setStringList(const QString& key, const QStringList& value)
{
    setValue(key, value);
}

int QPreferences::getInt(const QString& key, int defaultValue) const
{
    bool bOk = false;
    const int nValue = getValue(key, defaultValue).toInt(&bOk);
    // A hand-edited value that is not a number reads as the caller's "not set" value.
    return bOk ? nValue : defaultValue;
}

void QPreferences::setInt(const QString& key, int value)
{
    setValue(key, value);
}

QRect QPreferences::getRect(const QString& key) const
{
    return getValue(key, QRect()).toRect();
}

void QPreferences::setRect(const QString& key, QRect value)
{
    setValue(key, value);
}

QDateTime QPreferences::getDateTime(const QString& key) const
{
    const QString text = getValue(key, QString()).toString();
    if (text.isEmpty())
        return QDateTime();
    return QDateTime::fromString(text, Qt::ISODate);
}

void QPreferences::setDateTime(const QString& key, const QDateTime& value)
{
    setValue(key, value.toString(Qt::ISODate));
}

void QPreferences::remove(const QString& key)
{
    QMutexLocker lock(&m_Mutex);
    if (!m_pSettings)
        return;
    m_pSettings->remove(key);
    m_Cache.remove(key);
}

void QPreferences::clear()
{
    QMutexLocker lock(&m_Mutex);
    if (!m_pSettings)
        return;
    m_pSettings->clear();
    m_Cache.clear();
}

void QPreferences::sync()
{
    QMutexLocker lock(&m_Mutex);
    if (m_pSettings)
        m_pSettings->sync();
}
