#include "update/QUpdateInstaller.h"

#include "QsLog/QsLog.h"
#include "localization/QLanguageLoader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace {

QString text(const char* key)
{
    return LocalizationHelpers::text(QString::fromLatin1(key));
}

// Runs a command to its end; true when it exited with code 0.
bool runCommand(const QString& program, const QStringList& args, int nTimeoutMsecs,
                QByteArray* pOutput = nullptr, int* pExitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, args);
    if (!process.waitForStarted(5000)) {
        if (pExitCode)
            *pExitCode = -1;
        return false;
    }
    if (!process.waitForFinished(nTimeoutMsecs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (pOutput)
        *pOutput = process.readAllStandardOutput();
    if (pExitCode)
        *pExitCode = process.exitCode();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

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
        return runCommand(packageOwnerCommand.value(0), args, 10000) ? PackageInstall : Unsupported;
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

bool QUpdateInstaller::verifyFile(const QString& file, const QString& sha256Hex)
{
    QFile f(file);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const bool bRead = f.open(QIODevice::ReadOnly) && hash.addData(&f);
    f.close();
    if (bRead && !sha256Hex.isEmpty() &&
        hash.result().toHex() == sha256Hex.trimmed().toLower().toLatin1())
        return true;
    QFile::remove(file);
    return fail("UpdateInstaller/errorHash");
}

bool QUpdateInstaller::unpack(const QString& archive)
{
    const QString staging = stagingPath();
    // A staging folder left by an interrupted install is never trusted.
    QDir(staging).removeRecursively();
    if (!QDir().mkpath(staging))
        return false;
    const QStringList args{QStringLiteral("-xzf"),
                           archive,
                           QStringLiteral("-C"),
                           staging,
                           QStringLiteral("--strip-components=1"),
                           QStringLiteral("--no-same-owner")};
    return runCommand(tarCommand, args, nUnpackTimeoutMsecs);
}

bool QUpdateInstaller::checkProgram(const QString& treeRoot)
{
    QByteArray output;
    const QString program = treeRoot + QLatin1Char('/') + m_RelativeProgram;
    return runCommand(program, {QStringLiteral("--version")}, nCheckTimeoutMsecs, &output) &&
           output.startsWith("Thermora ");
}

bool QUpdateInstaller::prepare(const QString& archive, const QString& sha256Hex)
{
    m_Error.clear();
    step(StepVerify);
    if (!verifyFile(archive, sha256Hex))
        return false;
    step(StepUnpack);
    if (!unpack(archive)) {
        QDir(stagingPath()).removeRecursively();
        return fail("UpdateInstaller/errorUnpack");
    }
    step(StepCheck);
    if (!checkProgram(stagingPath())) {
        QDir(stagingPath()).removeRecursively();
        return fail("UpdateInstaller/errorCheck");
    }
    return true;
}

bool QUpdateInstaller::exchange(const QString& a, const QString& b)
{
    const QByteArray pathA = QFile::encodeName(a);
    const QByteArray pathB = QFile::encodeName(b);
    if (renameat2(AT_FDCWD, pathA.constData(), AT_FDCWD, pathB.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
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

bool QUpdateInstaller::commit()
{
    m_Error.clear();
    step(StepSwap);
    if (!QFileInfo(stagingPath()).isDir() || !exchange(stagingPath(), m_Root)) {
        QDir(stagingPath()).removeRecursively();
        return fail("UpdateInstaller/errorReplace");
    }
    // The staging folder now holds the old tree; it is kept aside until the next update.
    step(StepKeepOld);
    QDir(previousPath()).removeRecursively();
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

QUpdateInstaller::PackageResult QUpdateInstaller::installPackage(const QString& package,
                                                                 const QString& sha256Hex)
{
    m_Error.clear();
    step(StepVerify);
    if (!verifyFile(package, sha256Hex))
        return PackageFailed;
    step(StepSwap);
    QStringList args = packageInstallCommand.mid(1);
    args << QFileInfo(package).absoluteFilePath();
    int nExit = 0;
    if (runCommand(packageInstallCommand.value(0), args, 30 * 60 * 1000, nullptr, &nExit))
        return PackageInstalled;
    // -1: the prompt is missing; 126 and 127: it was dismissed or authentication failed.
    if (nExit == -1 || nExit == 126 || nExit == 127) {
        fail("UpdateInstaller/packageCommand", manualCommand(package));
        return PackageNeedsCommand;
    }
    fail("UpdateInstaller/errorPackage", manualCommand(package));
    return PackageFailed;
}
