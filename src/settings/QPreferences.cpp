#include "settings/QPreferences.h"

#include "QsLog/QsLog.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

QPreferences::QPreferences(const QString& application, const QString& organization,
                           QObject* pParent)
    : QObject(pParent)
{
    m_pSettings = new QSettings(QSettings::NativeFormat, QSettings::UserScope, organization,
                                application, this);
    m_pSettings->installEventFilter(this);
    checkBackend();
}

QPreferences::QPreferences(const QString& iniFilePath, QObject* pParent) : QObject(pParent)
{
    m_pSettings = new QSettings(iniFilePath, QSettings::IniFormat, this);
    m_pSettings->installEventFilter(this);
    checkBackend();
}

QPreferences::QPreferences(QObject* pParent) : QObject(pParent)
{}

// QSettings writes its changes to disk on its own, from an event it posts to itself, on the thread
// it lives in and without the store's lock, while a worker may be changing it. That write is
// done here instead, under the lock.
bool QPreferences::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched != m_pSettings || pEvent->type() != QEvent::UpdateRequest)
        return QObject::eventFilter(pWatched, pEvent);
    std::lock_guard<std::mutex> lock(m_Mutex);
    syncLocked();
    return true;
}

void QPreferences::syncLocked()
{
    if (!m_pSettings || m_bMemoryOnly)
        return;
    m_pSettings->sync();
    if (m_pSettings->status() != QSettings::AccessError || m_bSaveFailed)
        return;
    m_bSaveFailed = true;
    const QString message = QStringLiteral("Settings cannot be saved to %1 (disk full, file or "
                                           "folder read-only, or no home folder); the file is "
                                           "left as it was")
                                .arg(m_pSettings->fileName());
    reportProblem(message);
    // Queued: the receivers may read settings, and the lock is held here.
    QMetaObject::invokeMethod(
        this, [this, message] { emit saveProblem(message); }, Qt::QueuedConnection);
}

bool QPreferences::saveFailed() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bSaveFailed;
}

// QSettings never reports a broken file by failing: it keeps what it could parse (status()
// FormatError, found only once every key has been parsed) and rewrites the whole file from that
// at its next sync, dropping the lines it did not understand. A file it cannot read at all counts
// as empty and would be replaced by the new values alone. So before anything is written:
// a malformed file is copied aside to "<file>.corrupt" (or ".corrupt.2", ...) and the store goes
// on with the parsed values; an unreadable file is left alone and this session's changes stay in
// memory only.
void QPreferences::checkBackend()
{
    m_pSettings->allKeys(); // parses every section, so status() is final
    const QString fileName = m_pSettings->fileName();
    const QFileInfo info(fileName);

    if (info.exists() && (!info.isFile() || !info.isReadable())) {
        m_bMemoryOnly = true;
        reportProblem(QStringLiteral("Settings file %1 cannot be read; changes will not be saved "
                                     "in this session")
                          .arg(fileName));
        return;
    }
    if (m_pSettings->status() != QSettings::FormatError)
        return;

    const QString backup = freeBackupName(fileName);
    if (QFile::copy(fileName, backup)) {
        reportProblem(QStringLiteral("Settings file %1 is malformed; its unreadable entries are "
                                     "dropped, the original is kept as %2")
                          .arg(fileName, backup));
    } else {
        m_bMemoryOnly = true;
        reportProblem(QStringLiteral("Settings file %1 is malformed and could not be copied to "
                                     "%2; changes will not be saved in this session")
                          .arg(fileName, backup));
    }
}

// The store opens before the log is configured, so the problem also goes to standard error.
void QPreferences::reportProblem(const QString& message)
{
    qWarning("%s", qPrintable(message));
    QLOG_WARN() << message;
}

QString QPreferences::freeBackupName(const QString& fileName)
{
    const QString base = fileName + QStringLiteral(".corrupt");
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QStringLiteral(".%1").arg(n);
    return candidate;
}

bool QPreferences::isMemoryOnly() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bMemoryOnly;
}

QVariant QPreferences::getValue(const QString& key, const QVariant& defaultValue) const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
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
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_pSettings)
        return;
    if (!m_bMemoryOnly)
        m_pSettings->setValue(key, value);
    m_Cache.insert(key, value);
}

QString QPreferences::getString(const QString& key) const
{
    const QVariant value = getValue(key, QString());
    // A hand-edited line such as "Fans=1,2" (no quotes) comes back as a list; it means the text.
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
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
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_pSettings)
        return;
    if (!m_bMemoryOnly)
        m_pSettings->remove(key);
    m_Cache.remove(key);
}

void QPreferences::clear()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_pSettings)
        return;
    if (!m_bMemoryOnly)
        m_pSettings->clear();
    m_Cache.clear();
}

void QPreferences::sync()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    syncLocked();
}
