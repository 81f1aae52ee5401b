#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// One instance per user, checked with processes of a user of their own (the test runs as root).
class TestSingleInstance : public QObject
{
    Q_OBJECT
    struct Run : QProcess
    {
        QByteArray output;
    };
    std::vector<std::unique_ptr<Run>> m_Runs;
    // Not under /tmp, which a case makes read-only.
    QTemporaryDir m_Home{QCoreApplication::applicationDirPath() + "/instance-home-XXXXXX"};
    bool m_bReadOnlyTmp = false;
    const int m_nUid = 30000 + getpid() % 20000;
    const QString m_Folder = QString("/tmp/thermora-%1").arg(m_nUid);
    const QString m_Probe = QCoreApplication::applicationDirPath() + "/thermora_instance_probe";

    Run* start(const QString& program, const QStringList& arguments, int nUid = 0,
               bool bRuntimeDir = true)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_Home.path());
        bRuntimeDir ? environment.insert("XDG_RUNTIME_DIR", m_Home.filePath("run"))
                    : environment.remove("XDG_RUNTIME_DIR");
        m_Runs.push_back(std::make_unique<Run>());
        Run* pRun = m_Runs.back().get();
        pRun->setProcessEnvironment(environment);
        pRun->setProcessChannelMode(QProcess::MergedChannels);
        const QString uid = QString::number(nUid ? nUid : m_nUid);
        const QStringList user{"setpriv", "--reuid=" + uid, "--regid=" + uid, "--clear-groups"};
        // A read-only /tmp, in a mount namespace of the run's own.
        const QStringList readOnlyTmp{
            "-m", "sh", "-c",
            "mount --bind /tmp /tmp && mount -o remount,bind,ro /tmp && exec \"$@\"", "sh"};
        pRun->start(m_bReadOnlyTmp ? "unshare" : user.first(),
                    (m_bReadOnlyTmp ? readOnlyTmp + user : user.mid(1)) + QStringList{program} +
                        arguments);
        return pRun;
    }

    static bool waitFor(Run* pRun, const QByteArray& text, int nTimes = 1)
    {
        while (pRun->output.count(text) < nTimes) {
            if (!pRun->waitForReadyRead(10000))
                return false;
            pRun->output += pRun->readAll();
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        if (getuid() != 0)
            QSKIP("needs root to play several users");
        QVERIFY(QDir().mkpath(m_Home.filePath("run")));
        QCOMPARE(chown(qPrintable(m_Home.path()), m_nUid, m_nUid), 0);
        QCOMPARE(chown(qPrintable(m_Home.filePath("run")), m_nUid, m_nUid), 0);
        QProcess::execute("sh", {"-c", "rm -rf " + m_Folder + "*"});
    }

    void cleanup()
    {
        m_bReadOnlyTmp = false;
        m_Runs.clear(); // kills what still runs
        QProcess::execute("sh", {"-c", "rm -rf " + m_Folder + "*"});
    }

    // Whatever the environment and whatever was left or taken before: one instance per user.
    void oneInstancePerUser_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("firstRuntimeDir");
        QTest::addColumn<bool>("secondRuntimeDir");
        QTest::newRow("both with XDG_RUNTIME_DIR") << "" << true << true;
        QTest::newRow("first with, second without") << "" << true << false;
        QTest::newRow("first without, second with") << "" << false << true;
        QTest::newRow("another user took the name first") << "squat" << true << true;
        QTest::newRow("killed instance left socket and lock") << "killed" << false << false;
        QTest::newRow("read-only /tmp") << "read-only" << true << true;
        QTest::newRow("read-only /tmp, no XDG_RUNTIME_DIR") << "read-only" << false << false;
    }

    void oneInstancePerUser()
    {
        QFETCH(QString, before);
        QFETCH(bool, firstRuntimeDir);
        QFETCH(bool, secondRuntimeDir);
        Run* pSquatter = nullptr;
        m_bReadOnlyTmp = before == "read-only";
        if (m_bReadOnlyTmp && !firstRuntimeDir) { // no place for the check: it refuses to start
            Run* pRun = start(m_Probe, {}, 0, false);
            QVERIFY(pRun->waitForFinished(10000));
            QCOMPARE(pRun->exitCode(), 3);
            return;
        }
        if (before == "squat") {
            // Another user takes our name in /tmp, open to all, and listens holding the lock.
            QVERIFY(QDir().mkpath(m_Folder));
            QVERIFY(QFile::setPermissions(m_Folder, QFileDevice::Permissions(0x7777)));
            QCOMPARE(chown(qPrintable(m_Folder), 65534, 65534), 0);
            pSquatter = start(m_Probe, {"--squat", m_Folder + "/THERMORA"}, 65534);
            QVERIFY(waitFor(pSquatter, "squatting"));
        } else if (before == "killed") {
            Run* pDead = start(m_Probe, {});
            QVERIFY(waitFor(pDead, "ready"));
            pDead->kill(); // no chance to remove its socket
            QVERIFY(pDead->waitForFinished(10000));
        }
        Run* pFirst = start(m_Probe, {}, 0, firstRuntimeDir);
        QVERIFY2(waitFor(pFirst, "ready"), pFirst->output.constData());
        for (int i = 1; i <= 2; ++i) { // the running one keeps listening
            Run* pSecond = start(m_Probe, {}, 0, secondRuntimeDir);
            QVERIFY(pSecond->waitForFinished(10000));
            QCOMPARE(pSecond->exitCode(), 1);
            QVERIFY(!pSecond->readAll().contains("ready"));
            QVERIFY(waitFor(pFirst, "knock visible=1", i));
        }
        QVERIFY(!pSquatter || !pSquatter->readAll().contains("knock"));
    }

    // Root can reach any user's socket: its knock must not pull that user's window forward.
    void knockFromAnotherUserIgnored()
    {
        Run* pFirst = start(m_Probe, {});
        QVERIFY(waitFor(pFirst, "ready"));
        QLocalSocket intruder;
        intruder.connectToServer(m_Folder + "/THERMORA");
        QVERIFY(intruder.waitForConnected(5000));
        Run* pSecond = start(m_Probe, {});
        QVERIFY(pSecond->waitForFinished(10000));
        QCOMPARE(pSecond->exitCode(), 1);
        QVERIFY(waitFor(pFirst, "knock visible=1"));
        QCOMPARE(pFirst->output.count("knock"), 1);
        // A polite request to end (logout, service stop) is an ordinary exit, not a death.
        pFirst->terminate();
        QVERIFY(pFirst->waitForFinished(10000));
        QCOMPARE(pFirst->exitCode() + 10 * pFirst->exitStatus(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
