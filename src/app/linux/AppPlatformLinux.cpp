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

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// The parent of the per-user instance folders. Deliberately not $TMPDIR or $XDG_RUNTIME_DIR:
// starts from a terminal, a desktop session or a service manager see different environments
// but must all find the one running instance. Only when /tmp cannot hold it (read-only, full
// of other users' folders) is $XDG_RUNTIME_DIR the fall-back.
const char kInstanceParent[] = "/tmp";
// Another user may have taken our folder name first (anyone can create names in /tmp). Every
// start of ours walks the same short list of names and stops at the first folder that is ours,
// so all of them agree while nobody else can lock us out with one folder.
const int kInstanceFolderChoices = 8;

// A folder that only this user can enter: created with mode 0700, or found owned by this user
// (not through a link) and made 0700 again.
bool makePrivateFolder(const QByteArray& path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    const bool bOurs = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid();
    const bool bPrivate = bOurs && ((info.st_mode & 0077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    // The lock and the socket are created inside: a folder that cannot take them is no use.
    return bPrivate && ::access(path.constData(), W_OK) == 0;
}

QString privateInstanceFolder()
{
    const QString base =
        QStringLiteral("%1/thermora-%2").arg(QLatin1String(kInstanceParent)).arg(getuid());
    for (int n = 0; n < kInstanceFolderChoices; ++n) {
        const QString folder = n == 0 ? base : base + QStringLiteral(".%1").arg(n);
        if (makePrivateFolder(QFile::encodeName(folder)))
            return folder;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString fallback = runtime + QStringLiteral("/thermora");
    if (QDir::isAbsolutePath(runtime) && makePrivateFolder(QFile::encodeName(fallback)))
        return fallback;
    return QString();
}

QString programPath()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace

namespace AppPlatformUtils {

QString singleInstanceKey()
{
    const QString folder = privateInstanceFolder();
    return folder.isEmpty() ? QString()
                            : folder + QLatin1Char('/') + QLatin1String(kThermoraInstanceKey);
}

void preferLeanGraphics()
{
    // The xcb platform otherwise loads the GLX integration and with it the whole software
    // OpenGL stack (tens of megabytes resident) that no widget here draws with.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

struct QInstanceLock::Impl
{
    QByteArray path;
    int fd = -1;
};

QInstanceLock::QInstanceLock(const QString& key) : d(new Impl)
{
    d->path = QFile::encodeName(key + QStringLiteral(".lock"));
}

QInstanceLock::~QInstanceLock()
{
    if (d->fd >= 0)
        ::close(d->fd); // releases the lock
}

// flock, unlike a shared-memory segment, goes away with the process that held it.
QInstanceLock::Result QInstanceLock::tryLock()
{
    if (d->fd < 0)
        d->fd = ::open(d->path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (d->fd < 0)
        return Unavailable;
    if (::flock(d->fd, LOCK_EX | LOCK_NB) == 0)
        return Acquired;
    return errno == EWOULDBLOCK ? Busy : Unavailable;
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

QString missingDisplayReason()
{
    // A platform named by the user (offscreen, vnc...) needs no display of its own.
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QString();
    return QStringLiteral("no display to show the window on (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set); \"thermora --report\" prints the readings "
                          "as text");
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
