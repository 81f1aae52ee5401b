#include "app/AppPlatform.h"

#include "QsLog/QsLog.h"
#include "app/FileSystemRules.h"
#include "app/XdgAutoStart.h"
#include "app/app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>

#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Local socket paths are limited to about 108 bytes; stay well below.
const int kMaxServerPathLength = 100;

QString programPath()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace

namespace AppPlatformUtils {

// Shared-memory keys and socket names in /tmp are machine-wide on Linux, so the key carries
// the user id. The per-user runtime folder (private to the user, cleared at logout) holds the
// socket when the session has one.
QString singleInstanceKey()
{
    const QString name = QLatin1String(kThermoraInstanceKey) + QString::number(getuid());
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty() || !QFileInfo(runtimeDir).isDir() ||
        !QFileInfo(runtimeDir).isWritable())
        return name;
    const QString path = QDir(runtimeDir).absoluteFilePath(name);
    return path.toUtf8().size() < kMaxServerPathLength ? path : name;
}

bool queryFileSystem(const QString& folder, QString& typeName, bool& bNoSuid)
{
    const QByteArray nativePath = folder.toUtf8();
    struct statfs fsInfo;
    struct statvfs vfsInfo;
    if (statfs(nativePath.constData(), &fsInfo) != 0 ||
        statvfs(nativePath.constData(), &vfsInfo) != 0)
        return false;
    bNoSuid = (vfsInfo.f_flag & ST_NOSUID) != 0;

    // The mount table names FUSE and network file systems precisely ("fuse.sshfs"); the
    // magic number is the fall-back when /proc is not mounted.
    QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir(folder).absolutePath();
    QFile mountInfo(QStringLiteral("/proc/self/mountinfo"));
    if (mountInfo.open(QIODevice::ReadOnly))
        typeName = FileSystemRulesUtils::typeFromMountInfo(mountInfo.readAll(), canonical);
    if (typeName.isEmpty())
        typeName = FileSystemRulesUtils::typeFromMagic(quint64(fsInfo.f_type));
    return true;
}

bool isSupportedFileSystem(const QString& typeName, bool bNoSuid)
{
    return FileSystemRulesUtils::linuxAllowsSetUid(typeName, bNoSuid);
}

bool isAutoStartInstalled()
{
    return XdgAutoStartUtils::isInstalled(programPath());
}

void installAutoStart()
{
    XdgAutoStartUtils::install(programPath());
}

void removeAutoStart()
{
    XdgAutoStartUtils::remove(programPath());
}

// There is no application-wide activation on X11 or Wayland; raising the window and asking
// the window manager for focus is the closest equivalent.
void activateApplication(QMainWindow* pWindow)
{
    QWidget* pTarget = pWindow;
    if (!pTarget)
        pTarget = QApplication::activeWindow();
    if (!pTarget || !pTarget->isVisible())
        return;
    pTarget->raise();
    pTarget->activateWindow();
}

} // namespace AppPlatformUtils
