#pragma once

#include <QFile>
#include <QString>

// The file an update is downloaded into, in the user's private download folder
// ($XDG_CACHE_HOME/thermora/updates, else ~/.cache/thermora/updates): the folder is created
// 0700, its last two parts are opened without following a symbolic link and must belong to
// this user; the file is created new (never an existing one, never through a link), 0600. It
// stays open: what is verified is what is used, and it is deleted when this object goes.
class QUpdateDownloadFile
{
public:
    QUpdateDownloadFile() = default;
    ~QUpdateDownloadFile();
    QUpdateDownloadFile(const QUpdateDownloadFile&) = delete;
    QUpdateDownloadFile& operator=(const QUpdateDownloadFile&) = delete;

    // False with a reason for the log when the folder is not private or the file cannot be made.
    bool create(const QString& name, QString* pReason);
    QFile& file() { return m_File; }
    QString path() const { return m_Path; }
    // Closes and deletes the file (done by the destructor too).
    void remove();

    // The folder's path ($XDG_CACHE_HOME, then $HOME; empty when neither is set).
    static QString folderPath();

private:
    int m_nFolder = -1;
    QString m_Name;
    QString m_Path;
    QFile m_File;
};
