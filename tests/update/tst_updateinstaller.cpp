#include "UpdateTestSupport.h"
#include "localization/QLanguageLoader.h"
#include "update/QUpdateInstaller.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using I = QUpdateInstaller;

class TestUpdateInstaller : public QObject
{
    Q_OBJECT
    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Tool = TestSupport::binDir() + "/thermora-update";
    std::unique_ptr<QLanguageLoader> m_pLanguage;

    // update.tar.gz: thermora-1.2/bin/thermora and a 64 KiB file. A "broken" program fails,
    // an "alien" one answers --version as some other program, a "newer" one as 1.3; "link"
    // adds a link out of the tree, "bomb" a file that unpacks to far more than the archive.
    QString makeArchive(const QString& fault = QString(), const QString& name = "update.tar.gz")
    {
        const QString build = m_Dir.filePath("build");
        QDir(build).removeRecursively();
        writeTree(build + "/thermora-1.2", "1.2", fault != "broken");
        if (fault == "alien" || fault == "newer")
            writeScript(build + "/thermora-1.2/bin/thermora",
                        fault == "alien" ? "echo Other 1.2\n" : "echo Thermora 1.3\n");
        QByteArray payload(65536, '\0');
        for (char& c : payload)
            c = char(QRandomGenerator::global()->generate());
        writeScript(build + "/thermora-1.2/share/payload", payload);
        if (fault == "link")
            QFile::link("../../../../../etc", build + "/thermora-1.2/share/etc");
        if (fault == "bomb")
            writeScript(build + "/thermora-1.2/share/zeros", QByteArray(1 << 20, '\0'));
        run("tar", {"-czf", m_Dir.filePath(name), "-C", build, "thermora-1.2"});
        return m_Dir.filePath(name);
    }
    QString version() { return run(m_Root + "/bin/thermora", {"--version"}); }

private slots:
    void initTestCase()
    {
        m_pLanguage.reset(new QLanguageLoader("/Ready/languages/English.xml"));
        m_pLanguage->setLanguagesFolder(TestSupport::sourceDir() + "/src/resources/languages");
        m_pLanguage->load("Russian.xml");
        qputenv("THERMORA_TEST_MARKER", m_Dir.filePath("marker").toUtf8());
    }
    void init()
    {
        m_Root = m_Dir.filePath("opt/thermora");
        QDir(m_Dir.filePath("opt")).removeRecursively();
        writeTree(m_Root, "1.1.8");
    }

    // Cut short or refused, an install leaves a program that starts, and a new run installs.
    void interrupted_data()
    {
        QTest::addColumn<QString>("fault"); // "", hash, full, broken
        QTest::addColumn<int>("killAt");
        QTest::addColumn<bool>("updated");
        QTest::newRow("no fault") << "" << -1 << true;
        QTest::newRow("killed unpacking") << "" << 1 << false;
        QTest::newRow("killed checking") << "" << 2 << false;
        QTest::newRow("killed swapping") << "" << 3 << false;
        QTest::newRow("killed keeping old") << "" << 4 << true;
        QTest::newRow("bad hash") << "hash" << -1 << false;
        QTest::newRow("disk full") << "full" << -1 << false;
        QTest::newRow("new program broken") << "broken" << -1 << false;
        QTest::newRow("not this program") << "alien" << -1 << false;
        QTest::newRow("not this version") << "newer" << -1 << false;
        QTest::newRow("link out of the tree") << "link" << -1 << false;
        QTest::newRow("unpacks too large") << "bomb" << -1 << false;
    }
    void interrupted()
    {
        QFETCH(QString, fault);
        QFETCH(int, killAt);
        QFETCH(bool, updated);
        const QString archive = makeArchive(fault);
        // What an earlier update kept aside makes room for the tree this one replaces.
        const QString previous = m_Dir.filePath("opt/.thermora.previous");
        writeTree(previous, "1.0");
        QStringList args{"--archive",        archive,
                         "--sha256",         fault == "hash" ? QString(64, 'a') : sha256(archive),
                         "--version",        "1.2",
                         "--program",        m_Root + "/bin/thermora",
                         "--relaunch-after", "999999999"};
        if (killAt >= 0)
            qputenv("THERMORA_UPDATE_KILL_AT", QByteArray::number(killAt));
        if (fault == "full") // no file may grow past 8 KiB: unpacking fails
            args =
                QStringList{"-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" \"$@\"", m_Tool} + args;
        int nExit = 0;
        run(fault == "full" ? "/bin/sh" : m_Tool, args, &nExit);
        qunsetenv("THERMORA_UPDATE_KILL_AT");
        QCOMPARE(nExit, killAt >= 0 ? -9 : (fault.isEmpty() ? 0 : 1));
        QCOMPARE(version(), QString(updated ? "Thermora 1.2" : "Thermora 1.1.8"));
        QVERIFY(QFile::exists(archive));
        if (fault.isEmpty() && killAt < 0) {
            QTRY_COMPARE_WITH_TIMEOUT(run("cat", {m_Dir.filePath("marker")}), QString("1.2"),
                                      10000);
            QCOMPARE(run(previous + "/bin/thermora", {"--version"}), QString("Thermora 1.1.8"));
            return;
        }
        const QString fresh = makeArchive();
        run(m_Tool,
            {"--archive", fresh, "--sha256", sha256(fresh), "--version", "1.2", "--program",
             m_Root + "/bin/thermora"},
            &nExit);
        QCOMPARE(nExit, 0);
        QCOMPARE(version(), QString("Thermora 1.2"));
        QCOMPARE(run(previous + "/bin/thermora", {"--version"}),
                 QString(updated ? "Thermora 1.2" : "Thermora 1.1.8")); // what it replaced
        QVERIFY(!QFileInfo::exists(m_Dir.filePath("opt/.thermora.update")));
    }

    // Two installs of one tree at once take turns: each leaves one whole tree behind.
    void concurrent()
    {
        QList<QProcess*> tools;
        for (const char* name : {"a.tar.gz", "b.tar.gz"}) {
            const QString archive = makeArchive(QString(), name);
            tools << new QProcess(this);
            tools.last()->start(m_Tool,
                                {"--archive", archive, "--sha256", sha256(archive), "--version",
                                 "1.2", "--program", m_Root + "/bin/thermora"});
        }
        for (QProcess* pTool : tools) {
            QVERIFY(pTool->waitForFinished(30000));
            QCOMPARE(pTool->exitCode(), 0);
        }
        // The first install's tree is kept aside whole by the second.
        const QString previous = m_Dir.filePath("opt/.thermora.previous");
        QCOMPARE(run(previous + "/bin/thermora", {"--version"}), QString("Thermora 1.2"));
        QVERIFY(sha256(m_Root + "/share/payload") != sha256(previous + "/share/payload"));
        QVERIFY(QFileInfo::exists(previous + "/share/payload") && version() == "Thermora 1.2");
    }

    void kind_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<bool>("owned"); // by a package
        QTest::addColumn<int>("kind");
        QTest::newRow("own tree") << "" << true << int(I::TreeInstall);
        QTest::newRow("packaged") << "/usr/bin/thermora" << true << int(I::PackageInstall);
        QTest::newRow("no package") << "/usr/bin/thermora" << false << int(I::Unsupported);
        QTest::newRow("no tree") << "/nonexistent/bin/thermora" << true << int(I::Unsupported);
        QTest::newRow("build tree") << "build" << true << int(I::Unsupported);
    }
    void kind()
    {
        QFETCH(QString, executable);
        QFETCH(bool, owned);
        QFETCH(int, kind);
        if (executable == "build") // a developer's build tree is never replaced
            writeScript(m_Root + "/CMakeCache.txt", "");
        QUpdateInstaller installer(
            executable.isEmpty() || executable == "build" ? m_Root + "/bin/thermora" : executable);
        installer.packageOwnerCommand = QStringList{owned ? "true" : "false"};
        QCOMPARE(int(installer.kind()), kind);
    }

    // The package goes through the prompt; without it, the message names the command to run.
    void package_data()
    {
        QTest::addColumn<QString>("prompt"); // exit code of the stand-in prompt, or "none"
        QTest::addColumn<bool>("hashOk");
        QTest::addColumn<int>("result");
        QTest::newRow("installed") << "0" << true << int(I::PackageInstalled);
        QTest::newRow("dismissed") << "126" << true << int(I::PackageNeedsCommand);
        QTest::newRow("not authorised") << "127" << true << int(I::PackageNeedsCommand);
        QTest::newRow("no prompt") << "none" << true << int(I::PackageNeedsCommand);
        QTest::newRow("apt fails") << "100" << true << int(I::PackageFailed);
        QTest::newRow("bad hash") << "0" << false << int(I::PackageFailed);
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
        writeScript(m_Dir.filePath("prompt"),
                    "echo \"$@\" > " + args.toUtf8() + "\nexit " + prompt.toUtf8());
        QUpdateInstaller installer("/usr/bin/thermora");
        installer.packageInstallCommand = QStringList{
            m_Dir.filePath(prompt == "none" ? "nonexistent" : "prompt"), "apt-get", "install"};
        QFile file(deb);
        file.open(QIODevice::ReadOnly);
        const QUpdateRecord record{"1.2",
                                   "deb",
                                   "thermora_1.2_amd64.deb",
                                   file.size(),
                                   hashOk ? sha256(deb).toLatin1() : QByteArray(64, '0'),
                                   QDateTime()};
        QCOMPARE(int(installer.installPackage(file, record)), result);
        QCOMPARE(run("cat", {args}), hashOk && prompt != "none" ? "apt-get install " + deb : "");
        if (hashOk && result != I::PackageInstalled)
            QVERIFY2(installer.errorMessage().contains("выполните:\nsudo apt-get install " + deb),
                     qPrintable(installer.errorMessage()));
    }
};

QTEST_GUILESS_MAIN(TestUpdateInstaller)
#include "tst_updateinstaller.moc"
