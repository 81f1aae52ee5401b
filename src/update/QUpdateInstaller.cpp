#include "update/QUpdateInstaller.h"
#include "helpers/FileSystemHelpers.h"

#include "QsLog/QsLog.h"
#include "helpers/CompressionUtils.h"
#include "localization/QLanguageLoader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString text(const char* key)
{
    return LocalizationHelpers::text(QString::fromLatin1(key));
}

// Feeds a process's input, at most nMaxBytes, giving up at once on a cancel or when the process
// has gone (so a full disk or a stuck tar never holds the caller).
class QBoundedProcessInput : public QIODevice
{
public:
    QBoundedProcessInput(QProcess* pProcess, qint64 nMaxBytes, const std::atomic<bool>* pCancel)
        : m_pProcess(pProcess), m_nLeft(nMaxBytes), m_pCancel(pCancel)
    {
        open(QIODevice::WriteOnly);
    }
    bool bTooLarge = false;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* pData, qint64 nSize) override
    {
        if (nSize > m_nLeft) {
            bTooLarge = true;
            return -1;
        }
        m_nLeft -= nSize;
        m_pProcess->write(pData, nSize);
        while (m_pProcess->bytesToWrite() > 0) {
            if (m_pCancel->load() || m_pProcess->state() != QProcess::Running)
                return -1;
            m_pProcess->waitForBytesWritten(100);
        }
        return nSize;
    }

private:
    QProcess* m_pProcess;
    qint64 m_nLeft;
    const std::atomic<bool>* m_pCancel;
};

// Waits for the process in short steps, so that a cancel ends it at once.
bool waitFor(QProcess& process, int nTimeoutMsecs, const std::atomic<bool>& bCancel)
{
    for (int nWaited = 0; nWaited < nTimeoutMsecs && !bCancel.load(); nWaited += 100) {
        if (process.waitForFinished(100) || process.state() == QProcess::NotRunning)
            return true;
    }
    process.kill();
    process.waitForFinished(1000);
    return false;
}

// Owner write rights on every folder below path, so that a tree shipped with read-only
// folders can be removed.
void makeWritable(const QString& path)
{
    QDirIterator it(path, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::ExeOwner);
    while (it.hasNext()) {
        const QString dir = it.next();
        if (!QFileInfo(dir).isSymLink())
            QFile::setPermissions(dir, QFile::permissions(dir) | QFile::WriteOwner |
                                           QFile::ExeOwner | QFile::ReadOwner);
    }
}

void removeTree(const QString& path)
{
    makeWritable(path);
    QDir(path).removeRecursively();
}

// The link's target, as stored, when it stays inside root: relative, and never above it.
bool linkStaysInside(const QString& link, const QString& root)
{
    char target[4096];
    const ssize_t nLen = readlink(QFile::encodeName(link).constData(), target, sizeof(target) - 1);
    if (nLen <= 0)
        return false;
    const QString stored = QFile::decodeName(QByteArray(target, int(nLen)));
    if (QDir::isAbsolutePath(stored))
        return false;
    const QString resolved =
        QDir::cleanPath(QFileInfo(link).absolutePath() + QLatin1Char('/') + stored);
    return resolved.startsWith(root + QLatin1Char('/'));
}

bool linksStayInside(const QString& root)
{
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        if (QFileInfo(entry).isSymLink() && !linkStaysInside(entry, root))
            return false;
    }
    return true;
}

} // namespace

bool QUpdateInstaller::run(const QString& program, const QStringList& args, int nTimeoutMsecs,
                           QByteArray* pOutput, int* pExitCode) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, args);
    if (!process.waitForStarted(5000)) {
        if (pExitCode)
            *pExitCode = -1;
        return false;
    }
    if (!waitFor(process, nTimeoutMsecs, m_bCancel))
        return false;
    if (pOutput)
        *pOutput = process.readAllStandardOutput();
    if (pExitCode)
        *pExitCode = process.exitCode();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QUpdateInstaller::QUpdateInstaller(const QString& executable)
    : m_Executable(QFileInfo(executable).absoluteFilePath())
{
    // <root>/bin/<program>
    const QDir binDir = QFileInfo(m_Executable).absoluteDir();
    m_Root = QFileInfo(binDir.absolutePath()).absolutePath();
    m_RelativeProgram = QDir(m_Root).relativeFilePath(m_Executable);
}

QUpdateInstaller::Kind QUpdateInstaller::kind() const
{
    if (m_Executable.startsWith(QLatin1String("/usr/"))) {
        QStringList args = packageOwnerCommand.mid(1);
        args << m_Executable;
        return run(packageOwnerCommand.value(0), args, 10000) ? PackageInstall : Unsupported;
    }
    const QFileInfo root(m_Root);
    const QFileInfo parent(root.absolutePath());
    // A build tree is a developer's, never replaced by a download.
    const bool bBuildTree = QFileInfo::exists(m_Root + QStringLiteral("/CMakeCache.txt"));
    const bool bOwned = root.isDir() && root.isWritable() && parent.isWritable() && !bBuildTree;
    return bOwned ? TreeInstall : Unsupported;
}

QString QUpdateInstaller::stagingPath() const
{
    const QFileInfo root(m_Root);
    return root.absolutePath() + QStringLiteral("/.") + root.fileName() + QStringLiteral(".update");
}

QString QUpdateInstaller::previousPath() const
{
    const QFileInfo root(m_Root);
    return root.absolutePath() + QStringLiteral("/.") + root.fileName() +
           QStringLiteral(".previous");
}

void QUpdateInstaller::step(Step s)
{
    if (stepHook)
        stepHook(s);
}

bool QUpdateInstaller::fail(const char* textKey, const QString& arg)
{
    m_Error = text(textKey);
    // A translation that lost its place holder still names the command.
    if (!arg.isEmpty())
        m_Error = m_Error.contains(QLatin1String("%1")) ? m_Error.arg(arg)
                                                        : m_Error + QLatin1Char('\n') + arg;
    QLOG_WARN() << "QUpdateInstaller:" << m_Error;
    return false;
}

bool QUpdateInstaller::verifyFile(QFile& file, const QUpdateRecord& record)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const bool bRead = file.seek(0) && hash.addData(&file);
    if (bRead && file.size() == record.nSize && hash.result().toHex() == record.sha256)
        return true;
    return fail("UpdateInstaller/errorHash");
}

bool QUpdateInstaller::unpack(QFile& archive)
{
    const QString staging = stagingPath();
    // A staging folder left by an interrupted install is never trusted.
    removeTree(staging);
    if (!QDir().mkpath(staging) || !archive.seek(0))
        return false;
    // tar reads the inflated stream from this process, which counts and bounds it.
    QProcess tar;
    tar.setProcessChannelMode(QProcess::ForwardedChannels);
    tar.start(tarCommand,
              {QStringLiteral("-xf"), QStringLiteral("-"), QStringLiteral("-C"), staging,
               QStringLiteral("--strip-components=1"), QStringLiteral("--no-same-owner")});
    if (!tar.waitForStarted(5000))
        return false;
    // A tar stream is padded to 10 KiB blocks: a small archive may grow more than its factor.
    const qint64 nMax = qBound(kMinUnpackBound, archive.size() * kUnpackFactor, kMaxUnpackedBytes);
    QBoundedProcessInput input(&tar, nMax, &m_bCancel);
    const bool bInflated =
        CompressionUtils::zlib_inflate_stream(&archive, &input, CompressionUtils::GZIP) >= 0;
    tar.closeWriteChannel();
    if (input.bTooLarge)
        QLOG_WARN() << "QUpdateInstaller: the archive unpacks to more than allowed";
    const bool bDone = waitFor(tar, nUnpackTimeoutMsecs, m_bCancel);
    return bInflated && bDone && tar.exitStatus() == QProcess::NormalExit && tar.exitCode() == 0;
}

bool QUpdateInstaller::checkProgram(const QString& treeRoot, const QString& version)
{
    QByteArray output;
    const QString program = treeRoot + QLatin1Char('/') + m_RelativeProgram;
    // Exactly the signed version: an older or another build is not what was offered.
    return run(program, {QStringLiteral("--version")}, nCheckTimeoutMsecs, &output) &&
           output.trimmed() == "Thermora " + version.toUtf8();
}

bool QUpdateInstaller::lockTree()
{
    if (m_nLockFd >= 0)
        return true;
    m_nLockFd = open(QFile::encodeName(m_Root + QStringLiteral(".lock")).constData(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    // Another install of this tree runs: wait for it, unless cancelled.
    while (m_nLockFd >= 0 && flock(m_nLockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || m_bCancel.load()) {
            unlockTree();
            return false;
        }
        usleep(100 * 1000);
    }
    return m_nLockFd >= 0;
}

void QUpdateInstaller::unlockTree()
{
    if (m_nLockFd >= 0)
        close(m_nLockFd); // releases the lock
    m_nLockFd = -1;
}

QUpdateInstaller::~QUpdateInstaller()
{
    unlockTree();
}

bool QUpdateInstaller::prepare(QFile& archive, const QUpdateRecord& record)
{
    m_Error.clear();
    // Held from unpacking to the end of commit(): two installs never share a staging folder.
    if (!lockTree())
        return fail("UpdateInstaller/errorReplace");
    step(StepVerify);
    if (!verifyFile(archive, record)) {
        unlockTree();
        return false;
    }
    step(StepUnpack);
    if (!unpack(archive)) {
        removeTree(stagingPath());
        unlockTree();
        return fail("UpdateInstaller/errorUnpack");
    }
    if (!linksStayInside(stagingPath())) {
        removeTree(stagingPath());
        unlockTree();
        return fail("UpdateInstaller/errorLink");
    }
    return true;
}

bool QUpdateInstaller::exchange(const QString& a, const QString& b)
{
    const QByteArray pathA = QFile::encodeName(a);
    const QByteArray pathB = QFile::encodeName(b);
    bool bSupported = true;
    if (FileSystemHelpers::platformExchangePaths(pathA, pathB, bSupported))
        return true;
    if (bSupported)
        return false;
    // No atomic exchange on this file system: two renames, the first undone if the second
    // fails.
    const QByteArray aside = QFile::encodeName(b + QStringLiteral(".swap"));
    if (rename(pathB.constData(), aside.constData()) != 0)
        return false;
    if (rename(pathA.constData(), pathB.constData()) != 0) {
        rename(aside.constData(), pathB.constData());
        return false;
    }
    return rename(aside.constData(), pathA.constData()) == 0;
}

bool QUpdateInstaller::commit(const QUpdateRecord& record)
{
    m_Error.clear();
    // The lock taken by prepare(), or taken now.
    const bool bLocked = lockTree();
    const bool bDone = bLocked && commitLocked(record);
    unlockTree();
    return bDone;
}

bool QUpdateInstaller::commitLocked(const QUpdateRecord& record)
{
    step(StepCheck);
    if (!checkProgram(stagingPath(), record.version)) {
        removeTree(stagingPath());
        return fail("UpdateInstaller/errorCheck");
    }
    step(StepSwap);
    if (!QFileInfo(stagingPath()).isDir() || !exchange(stagingPath(), m_Root)) {
        removeTree(stagingPath());
        return fail("UpdateInstaller/errorReplace");
    }
    // The staging folder now holds the old tree; it is kept aside until the next update.
    step(StepKeepOld);
    removeTree(previousPath());
    QDir().rename(stagingPath(), previousPath());
    return true;
}

bool QUpdateInstaller::relaunchAfterExit(qint64 nPid)
{
    step(StepRelaunch);
    // $0 is the pid to wait for, $1 the program to start.
    const QString script =
        QStringLiteral("while kill -0 \"$0\" 2>/dev/null; do sleep 0.2; done; exec \"$1\"");
    return QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), script, QString::number(nPid), m_Executable});
}

QString QUpdateInstaller::manualCommand(const QString& package)
{
    return QStringLiteral("sudo apt-get install %1").arg(QFileInfo(package).absoluteFilePath());
}

QUpdateInstaller::PackageResult QUpdateInstaller::installPackage(QFile& file,
                                                                 const QUpdateRecord& record)
{
    m_Error.clear();
    step(StepVerify);
    if (!verifyFile(file, record))
        return PackageFailed;
    step(StepSwap);
    // The file lies in the user's private folder: no other user can swap it after the check.
    const QString package = QFileInfo(file.fileName()).absoluteFilePath();
    QStringList args = packageInstallCommand.mid(1);
    args << package;
    int nExit = 0;
    if (run(packageInstallCommand.value(0), args, 30 * 60 * 1000, nullptr, &nExit))
        return PackageInstalled;
    // -1: the prompt is missing; 126 and 127: it was dismissed or authentication failed.
    if (nExit == -1 || nExit == 126 || nExit == 127) {
        fail("UpdateInstaller/packageCommand", manualCommand(package));
        return PackageNeedsCommand;
    }
    fail("UpdateInstaller/errorPackage", manualCommand(package));
    return PackageFailed;
}
