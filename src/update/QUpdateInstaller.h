#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Installs a downloaded update the way the running program was installed.
//
// A tree the user owns (the program unpacked from an archive, <root>/bin/thermora): the
// archive is unpacked into a hidden sibling folder, the program there must answer --version,
// and only then are the two folders exchanged in one atomic rename; the old tree is kept as
// a hidden sibling. Whatever step fails or is interrupted, <root> holds a complete program.
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

    // The commands used; each can be replaced (tests, other distributions).
    QStringList packageInstallCommand{QStringLiteral("pkexec"), QStringLiteral("apt-get"),
                                      QStringLiteral("install")};
    QStringList packageOwnerCommand{QStringLiteral("dpkg"), QStringLiteral("-S")};
    QString tarCommand = QStringLiteral("tar");
    int nCheckTimeoutMsecs = 10000;
    int nUnpackTimeoutMsecs = 120000;
    // Called as each step begins (fault injection in tests and the install tool).
    std::function<void(Step)> stepHook;

    Kind kind() const;
    QString root() const { return m_Root; }
    QString stagingPath() const;
    QString previousPath() const;

    // True when the file's SHA-256 equals hex (any case). A mismatch deletes the file.
    bool verifyFile(const QString& file, const QString& sha256Hex);
    // Verify, unpack into the staging folder and check the program there runs.
    bool prepare(const QString& archive, const QString& sha256Hex);
    // Exchanges the staging folder with the installed tree and keeps the old one aside.
    bool commit();
    // Starts the installed program once the process pid has ended.
    bool relaunchAfterExit(qint64 nPid);
    // Verifies and installs a package; PackageNeedsCommand when the prompt is missing or was
    // refused (errorMessage() then names the command to run).
    PackageResult installPackage(const QString& package, const QString& sha256Hex);

    QString errorMessage() const { return m_Error; }
    // The command a user runs to install the package by hand.
    static QString manualCommand(const QString& package);

private:
    void step(Step s);
    bool fail(const char* textKey, const QString& arg = QString());
    bool unpack(const QString& archive);
    bool checkProgram(const QString& treeRoot);
    bool exchange(const QString& a, const QString& b);

    QString m_Executable;
    QString m_Root;
    QString m_RelativeProgram;
    QString m_Error;
};
