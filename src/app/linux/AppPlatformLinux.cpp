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
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/socket.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read by the event loop: the only safe way out of a handler.
int g_TerminationPipe[2] = {-1, -1};
QPointer<QSocketNotifier> g_pTerminationNotifier;

void onTerminationSignal(int)
{
    const char byte = 1;
    const ssize_t nIgnored = ::write(g_TerminationPipe[1], &byte, 1);
    (void)nIgnored;
}

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

void quitOnTerminationRequests()
{
    if (g_TerminationPipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_TerminationPipe) != 0) {
            QLOG_WARN() << "No termination signal handling:" << strerror(errno);
            g_TerminationPipe[0] = g_TerminationPipe[1] = -1;
            return;
        }
        struct sigaction action;
        memset(&action, 0, sizeof(action));
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int nSignal : {SIGTERM, SIGINT, SIGHUP})
            sigaction(nSignal, &action, nullptr);
    }
    // One listener per application object (tests build several in one process).
    if (g_pTerminationNotifier || !QCoreApplication::instance())
        return;
    g_pTerminationNotifier = new QSocketNotifier(g_TerminationPipe[0], QSocketNotifier::Read,
                                                 QCoreApplication::instance());
    QObject::connect(g_pTerminationNotifier, &QSocketNotifier::activated,
                     QCoreApplication::instance(), [] {
                         char byte = 0;
                         const ssize_t nIgnored = ::read(g_TerminationPipe[0], &byte, 1);
                         (void)nIgnored;
                         QLOG_INFO() << "Termination requested by the system";
                         QCoreApplication::quit();
                     });
}

} // namespace AppPlatformUtils
