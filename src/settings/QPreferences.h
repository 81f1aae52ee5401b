#pragma once

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QRect>
#include <QStringList>
#include <QVariant>

#include <mutex>

class QSettings;

// The program's persistent key/value store: QSettings behind a read-through, write-through
// value cache. Safe to call from the GUI thread and the update worker at the same time.
// Without a backend every getter returns the empty value of its type and writes are ignored.
// A malformed settings file is copied aside before anything can overwrite it; an unreadable one
// is never written (see checkBackend()).
class QPreferences : public QObject
{
    Q_OBJECT
public:
    // Native format, user scope (on Linux: $XDG_CONFIG_HOME/<organization>/<application>.conf).
    QPreferences(const QString& application, const QString& organization,
                 QObject* pParent = nullptr);
    // INI file at the given path.
    QPreferences(const QString& iniFilePath, QObject* pParent = nullptr);
    // No backend at all.
    explicit QPreferences(QObject* pParent);

    QVariant getValue(const QString& key, const QVariant& defaultValue = QVariant()) const;
    void setValue(const QString& key, const QVariant& value);

    QString getString(const QString& key) const;
    void setString(const QString& key, const QString& value);

    QStringList getStringList(const QString& key) const;
    void setStringList(const QString& key, const QStringList& value);

    int getInt(const QString& key, int defaultValue) const;
    void setInt(const QString& key, int value);

    QRect getRect(const QString& key) const;
    void setRect(const QString& key, QRect value);

    QDateTime getDateTime(const QString& key) const;
    void setDateTime(const QString& key, const QDateTime& value);

    void remove(const QString& key);
    void clear();

    // Writes pending changes to disk now (QSettings otherwise does it on its own schedule).
    void sync();

    // True when the settings file exists but could not be read (or a malformed one could not be
    // copied aside): values then change in memory only and the file is left as it was.
    bool isMemoryOnly() const;
    // True once a write of the file failed (full disk, read-only file or folder, no home).
    bool saveFailed() const;

signals:
    // Emitted once, queued, at the first failed write; the message is for the log.
    void saveProblem(const QString& message);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void checkBackend();
    // Writes under m_Mutex and notes a failure once; QSettings writes through a temporary
    // file, so a failed write leaves the file on disk as it was.
    void syncLocked();
    static QString freeBackupName(const QString& fileName);
    static void reportProblem(const QString& message);

    mutable std::mutex m_Mutex;
    mutable QMap<QString, QVariant> m_Cache;
    QSettings* m_pSettings = nullptr;
    bool m_bMemoryOnly = false;
    bool m_bSaveFailed = false;
};
