#include "update/QUpdateDownloadFile.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens (creating when missing) the sub-folder name of nParent without following a link; it
// must belong to this user, and is made private. -1 on failure.
int openPrivateFolder(int nParent, const char* name, QString* pReason)
{
    if (mkdirat(nParent, name, 0700) != 0 && errno != EEXIST) {
        *pReason = QStringLiteral("cannot create %1: %2").arg(name, strerror(errno));
        return -1;
    }
    const int nFd = openat(nParent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (nFd < 0 || fstat(nFd, &st) != 0 || st.st_uid != geteuid() ||
        ((st.st_mode & 077) != 0 && fchmod(nFd, 0700) != 0)) {
        *pReason = QStringLiteral("%1 is a link, another user's or cannot be made private")
                       .arg(QLatin1String(name));
        if (nFd >= 0)
            close(nFd);
        return -1;
    }
    return nFd;
}

} // namespace

QString QUpdateDownloadFile::folderPath()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return QString();
        base = home + QStringLiteral("/.cache");
    }
    return QDir::cleanPath(base) + QStringLiteral("/thermora/updates");
}

QUpdateDownloadFile::~QUpdateDownloadFile()
{
    remove();
}

bool QUpdateDownloadFile::create(const QString& name, QString* pReason)
{
    remove();
    const QString folder = folderPath();
    const QString base = QFileInfo(QFileInfo(folder).absolutePath()).absolutePath();
    if (folder.isEmpty() || !QDir().mkpath(base)) {
        *pReason = QStringLiteral("no cache folder (HOME unset or not writable)");
        return false;
    }
    // The cache folder itself is the user's to place (it may be a link); below it, nothing is
    // followed.
    const int nBase = open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int nApp = nBase < 0 ? -1 : openPrivateFolder(nBase, "thermora", pReason);
    m_nFolder = nApp < 0 ? -1 : openPrivateFolder(nApp, "updates", pReason);
    if (nBase >= 0)
        close(nBase);
    if (nApp >= 0)
        close(nApp);
    if (m_nFolder < 0)
        return false;
    const QByteArray encoded = QFile::encodeName(name);
    // What an interrupted run left behind is worth nothing.
    unlinkat(m_nFolder, encoded.constData(), 0);
    const int nFd = openat(m_nFolder, encoded.constData(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    m_Path = folder + QLatin1Char('/') + name;
    m_File.setFileName(m_Path);
    if (nFd < 0 || !m_File.open(nFd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        *pReason = QStringLiteral("cannot create %1: %2").arg(name, strerror(errno));
        if (nFd >= 0)
            close(nFd);
        return false;
    }
    m_Name = name;
    return true;
}

void QUpdateDownloadFile::remove()
{
    m_File.close();
    if (m_nFolder >= 0) {
        if (!m_Name.isEmpty())
            unlinkat(m_nFolder, QFile::encodeName(m_Name).constData(), 0);
        close(m_nFolder);
    }
    m_nFolder = -1;
    m_Name.clear();
}
