#pragma once

#include "update/UpdateRecord.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QFile;

// Installs a downloaded update the way the running program was installed.
//
// A tree the user owns (the program unpacked from an archive, <root>/bin/thermora): the
// archive, checked against its signed record, is unpacked into a hidden sibling folder (its
// size bounded, links leading out of it refused); nothing of it runs before commit(), which
// the user starts: the program there must then report exactly the signed version, and only
// then are the two folders exchanged in one atomic rename; the old tree is kept as a hidden
// sibling. Whatever step fails or is interrupted, <root> holds a complete program. Installs of
// one tree take turns (a lock file beside it).
//
// A package-managed install (under /usr, owned by a package): the downloaded package is
// handed to the package manager through a privilege prompt; nothing is written under /usr
// by the program itself.
class QUpdateInstaller
{
public:
    enum Kind
    {
        TreeInstall,
        PackageInstall,
        Unsupported
    };
    enum Step
    {
        StepVerify,
        StepUnpack,
        StepCheck,
        StepSwap,
        StepKeepOld,
        StepRelaunch
    };
    enum PackageResult
    {
        PackageInstalled,
        PackageNeedsCommand,
        PackageFailed
    };

    // executable: the running program's path (QCoreApplication::applicationFilePath()).
    explicit QUpdateInstaller(const QString& executable);
    ~QUpdateInstaller();
    QUpdateInstaller(const QUpdateInstaller&) = delete;
    QUpdateInstaller& operator=(const QUpdateInstaller&) = delete;

    // The commands used; each can be replaced (tests, other distributions).
    QStringList packageInstallCommand{QStringLiteral("pkexec"), QStringLiteral("apt-get"),
                                      QStringLiteral("install")};
    QStringList packageOwnerCommand{QStringLiteral("dpkg"), QStringLiteral("-S")};
    QString tarCommand = QStringLiteral("tar");
    int nCheckTimeoutMsecs = 10000;
    int nUnpackTimeoutMsecs = 120000;
    // The unpacked size may not pass this many times the archive's (or 1 MiB for a tiny one),
    // nor kMaxUnpackedBytes.
    static constexpr int kUnpackFactor = 4;
    static constexpr qint64 kMinUnpackBound = 1024LL * 1024;
    static constexpr qint64 kMaxUnpackedBytes = 512LL * 1024 * 1024;
    // Called as each step begins (fault injection in tests and the install tool).
    std::function<void(Step)> stepHook;

    Kind kind() const;
    QString root() const { return m_Root; }
    QString stagingPath() const;
    QString previousPath() const;

    // True when the open file has exactly the record's size and SHA-256.
    bool verifyFile(QFile& file, const QUpdateRecord& record);
    // Verify and unpack into the staging folder; nothing unpacked runs.
    bool prepare(QFile& archive, const QUpdateRecord& record);
    // Checks the staged program reports the record's version, exchanges the staging folder with
    // the installed tree and keeps the old one aside.
    bool commit(const QUpdateRecord& record);
    // From any thread: a running unpack or check ends at once and fails.
    void cancel() { m_bCancel.store(true); }
    // Starts the installed program once the process pid has ended.
    bool relaunchAfterExit(qint64 nPid);
    // Verifies and installs a package; PackageNeedsCommand when the prompt is missing or was
    // refused (errorMessage() then names the command to run).
    PackageResult installPackage(QFile& package, const QUpdateRecord& record);

    QString errorMessage() const { return m_Error; }
    // The command a user runs to install the package by hand.
    static QString manualCommand(const QString& package);

private:
    void step(Step s);
    bool fail(const char* textKey, const QString& arg = QString());
    bool unpack(QFile& archive);
    bool lockTree();
    void unlockTree();
    bool commitLocked(const QUpdateRecord& record);
    bool checkProgram(const QString& treeRoot, const QString& version);
    bool run(const QString& program, const QStringList& args, int nTimeoutMsecs,
             QByteArray* pOutput = nullptr, int* pExitCode = nullptr) const;
    bool exchange(const QString& a, const QString& b);

    QString m_Executable;
    QString m_Root;
    QString m_RelativeProgram;
    QString m_Error;
    std::atomic<bool> m_bCancel{false};
    int m_nLockFd = -1; // <root>.lock, held from prepare() to the end of commit()
};
