#include "localization/QLanguageLoader.h"
#include "support/TestSupport.h"
#include "update/QUpdateInstaller.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void writeScript(const QString& path, const QByteArray& body)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// A program tree: bin/thermora answers --version and, started, notes its version.
void writeTree(const QString& root, const QByteArray& version, bool bRuns = true)
{
    writeScript(root + "/bin/thermora", bRuns ? "[ \"$1\" = --version ] && { echo Thermora " +
                                                    version + "; exit 0; }\necho " + version +
                                                    " >> \"$THERMORA_TEST_MARKER\"\n"
                                              : "exit 3\n");
}

QString sha256(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

QString run(const QString& program, const QStringList& args, int* pExit = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(30000);
    if (pExit)
        *pExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -9;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
} // namespace

class TestUpdateInstaller : public QObject
{
    Q_OBJECT
    QTemporaryDir m_Dir;
    QString m_Root;
    std::unique_ptr<QLanguageLoader> m_pLanguage;

    // update.tar.gz holding thermora-1.2/bin/thermora and a 64 KiB payload.
    QString makeArchive(bool bRuns)
    {
        const QString build = m_Dir.filePath("build");
        QDir(build).removeRecursively();
        writeTree(build + "/thermora-1.2", "1.2", bRuns);
        QFile payload(build + "/thermora-1.2/share/payload");
        QDir().mkpath(build + "/thermora-1.2/share");
        payload.open(QIODevice::WriteOnly);
        payload.write(QByteArray(65536, 'p'));
        payload.close();
        const QString archive = m_Dir.filePath("update.tar.gz");
        run("tar", {"-czf", archive, "-C", build, "thermora-1.2"});
        return archive;
    }

private slots:
    void initTestCase()
    {
        m_pLanguage.reset(new QLanguageLoader(QStringLiteral("/Ready/languages/English.xml")));
        m_pLanguage->setLanguagesFolder(TestSupport::sourceDir() + "/src/resources/languages");
        m_pLanguage->load(QStringLiteral("Russian.xml"));
    }
    void init()
    {
        m_Root = m_Dir.filePath("opt/thermora");
        QDir(m_Dir.filePath("opt")).removeRecursively();
        writeTree(m_Root, "1.1.8");
        qputenv("THERMORA_TEST_MARKER", m_Dir.filePath("marker").toUtf8());
        QFile::remove(m_Dir.filePath("marker"));
    }

    // An install cut short at any step, or refused, leaves a program that starts; a clean run
    // afterwards installs and relaunches the new one.
    void interrupted_data()
    {
        QTest::addColumn<int>("killAt");
        QTest::addColumn<QString>("fault"); // "", hash, full, broken
        QTest::addColumn<QString>("versionAfter");
        QTest::newRow("no fault") << -1 << ""
                                  << "1.2";
        QTest::newRow("killed verifying") << 0 << ""
                                          << "1.1.8";
        QTest::newRow("killed unpacking") << 1 << ""
                                          << "1.1.8";
        QTest::newRow("killed checking") << 2 << ""
                                         << "1.1.8";
        QTest::newRow("killed swapping") << 3 << ""
                                         << "1.1.8";
        QTest::newRow("killed keeping old") << 4 << ""
                                            << "1.2";
        QTest::newRow("bad hash") << -1 << "hash"
                                  << "1.1.8";
        QTest::newRow("disk full") << -1 << "full"
                                   << "1.1.8";
        QTest::newRow("new program broken") << -1 << "broken"
                                            << "1.1.8";
    }
    void interrupted()
    {
        QFETCH(int, killAt);
        QFETCH(QString, fault);
        QFETCH(QString, versionAfter);
        const QString archive = makeArchive(fault != "broken");
        const QString hash = fault == "hash" ? QString(64, 'a') : sha256(archive);
        const QString tool = TestSupport::binDir() + "/thermora-update";
        QStringList args{
            "--archive",        archive,    "--sha256", hash, "--program", m_Root + "/bin/thermora",
            "--relaunch-after", "999999999"};
        if (killAt >= 0)
            qputenv("THERMORA_UPDATE_KILL_AT", QByteArray::number(killAt));
        // A file may not grow past 8 KiB: the unpacking's writes fail.
        if (fault == "full")
            args = QStringList{"-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" \"$@\"", tool} + args;
        int nExit = 0;
        run(fault == "full" ? "/bin/sh" : tool, args, &nExit);
        qunsetenv("THERMORA_UPDATE_KILL_AT");
        QCOMPARE(nExit, killAt >= 0 ? -9 : (fault.isEmpty() ? 0 : 1));
        QCOMPARE(run(m_Root + "/bin/thermora", {"--version"}), "Thermora " + versionAfter);
        QCOMPARE(QFile::exists(archive), fault != "hash");
        if (fault.isEmpty() && killAt < 0) {
            QTRY_COMPARE_WITH_TIMEOUT(run("cat", {m_Dir.filePath("marker")}), QString("1.2"),
                                      10000);
            QCOMPARE(run(m_Dir.filePath("opt/.thermora.previous/bin/thermora"), {"--version"}),
                     QString("Thermora 1.1.8"));
            return;
        }
        const QString fresh = makeArchive(true);
        run(tool,
            {"--archive", fresh, "--sha256", sha256(fresh), "--program", m_Root + "/bin/thermora"},
            &nExit);
        QCOMPARE(nExit, 0);
        QCOMPARE(run(m_Root + "/bin/thermora", {"--version"}), QString("Thermora 1.2"));
        QVERIFY(!QFileInfo::exists(m_Dir.filePath("opt/.thermora.update")));
    }

    // How the running program was installed.
    void kind_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<int>("kind");
        QTest::newRow("own tree") << "TREE"
                                  << "true" << int(QUpdateInstaller::TreeInstall);
        QTest::newRow("packaged") << "/usr/bin/thermora"
                                  << "true" << int(QUpdateInstaller::PackageInstall);
        QTest::newRow("under /usr, no package") << "/usr/bin/thermora"
                                                << "false" << int(QUpdateInstaller::Unsupported);
        QTest::newRow("missing tree") << "/nonexistent/bin/thermora"
                                      << "true" << int(QUpdateInstaller::Unsupported);
    }
    void kind()
    {
        QFETCH(QString, executable);
        QFETCH(QString, owner);
        QFETCH(int, kind);
        QUpdateInstaller installer(executable == "TREE" ? m_Root + "/bin/thermora" : executable);
        installer.packageOwnerCommand = QStringList{owner};
        QCOMPARE(int(installer.kind()), kind);
    }

    // The package goes to the package manager through the prompt; when the prompt is missing
    // or refused, the message names the command to run by hand.
    void package_data()
    {
        QTest::addColumn<QString>("prompt"); // exit code of the fake prompt, or "missing"
        QTest::addColumn<bool>("hashOk");
        QTest::addColumn<int>("result");
        QTest::newRow("installed") << "0" << true << int(QUpdateInstaller::PackageInstalled);
        QTest::newRow("dismissed") << "126" << true << int(QUpdateInstaller::PackageNeedsCommand);
        QTest::newRow("not allowed") << "127" << true << int(QUpdateInstaller::PackageNeedsCommand);
        QTest::newRow("no prompt")
            << "missing" << true << int(QUpdateInstaller::PackageNeedsCommand);
        QTest::newRow("apt fails") << "100" << true << int(QUpdateInstaller::PackageFailed);
        QTest::newRow("bad hash") << "0" << false << int(QUpdateInstaller::PackageFailed);
    }
    void package()
    {
        QFETCH(QString, prompt);
        QFETCH(bool, hashOk);
        QFETCH(int, result);
        const QString deb = m_Dir.filePath("thermora_1.2_amd64.deb");
        const QString args = m_Dir.filePath("prompt-args");
        QFile::remove(args);
        writeScript(deb, "package");
        const QString fake = m_Dir.filePath("fake-prompt");
        writeScript(fake, "echo \"$@\" > " + args.toUtf8() + "\nexit " + prompt.toUtf8() + "\n");
        QUpdateInstaller installer("/usr/bin/thermora");
        installer.packageInstallCommand = QStringList{
            prompt == "missing" ? QString("/nonexistent/pkexec") : fake, "apt-get", "install"};
        const int nResult = installer.installPackage(deb, hashOk ? sha256(deb) : QString(64, '0'));
        QCOMPARE(nResult, result);
        QCOMPARE(QFile::exists(deb), hashOk);
        if (hashOk && prompt != "missing")
            QCOMPARE(run("cat", {args}), "apt-get install " + deb);
        if (hashOk && result != QUpdateInstaller::PackageInstalled)
            QVERIFY2(installer.errorMessage().contains("выполните:\nsudo apt-get install " + deb),
                     qPrintable(installer.errorMessage()));
    }
};

QTEST_GUILESS_MAIN(TestUpdateInstaller)
#include "tst_updateinstaller.moc"
