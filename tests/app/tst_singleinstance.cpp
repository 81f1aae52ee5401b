#include "support/TestSupport.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>
#include <vector>

// One instance per user, checked with real processes that run as a user of their own (the
// test runs as root and drops to that user), so nothing here meets another run's instances.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void oneInstancePerUser_data();
    void oneInstancePerUser();
    void knockFromAnotherUserIgnored();
    void programAgainstSimulator();

private:
    struct Run
    {
        std::unique_ptr<QProcess> pProcess;
        QByteArray output;
    };
    Run* start(const QString& program, const QStringList& arguments, int nUid = -1,
               bool bRuntimeDir = true);
    Run* startProbe(bool bRuntimeDir = true) { return start(probe(), {}, -1, bRuntimeDir); }
    static bool waitFor(Run* pRun, const QByteArray& text);
    QString probe() const
    {
        return QCoreApplication::applicationDirPath() + "/thermora_instance_probe";
    }
    QString instanceFolder() const { return QStringLiteral("/tmp/thermora-%1").arg(m_nUid); }
    void removeInstanceFolders();

    int m_nUid = 0;
    QTemporaryDir m_Home;
    std::vector<std::unique_ptr<Run>> m_Runs;
};

void TestSingleInstance::initTestCase()
{
    if (getuid() != 0)
        QSKIP("needs root to play several users");
    m_nUid = 30000 + getpid() % 20000;
    QVERIFY(QDir().mkpath(m_Home.filePath("run")) && QDir().mkpath(m_Home.filePath("Desktop")));
    QCOMPARE(QProcess::execute("chown", {"-R", QString::number(m_nUid), m_Home.path()}), 0);
    removeInstanceFolders();
}

void TestSingleInstance::removeInstanceFolders()
{
    for (const QString& name : QDir("/tmp").entryList({QStringLiteral("thermora-%1*").arg(m_nUid)}))
        QDir("/tmp/" + name).removeRecursively();
}

void TestSingleInstance::cleanup()
{
    for (auto& pRun : m_Runs) {
        pRun->pProcess->kill();
        pRun->pProcess->waitForFinished(5000);
    }
    m_Runs.clear();
    removeInstanceFolders();
}

TestSingleInstance::Run* TestSingleInstance::start(const QString& program,
                                                   const QStringList& arguments, int nUid,
                                                   bool bRuntimeDir)
{
    const QString uid = QString::number(nUid < 0 ? m_nUid : nUid);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_Home.path());
    environment.insert("XDG_CONFIG_HOME", m_Home.filePath(".config"));
    environment.insert("XDG_RUNTIME_DIR", m_Home.filePath("run"));
    if (!bRuntimeDir)
        environment.remove("XDG_RUNTIME_DIR");
    m_Runs.push_back(std::make_unique<Run>());
    Run* pRun = m_Runs.back().get();
    pRun->pProcess = std::make_unique<QProcess>();
    pRun->pProcess->setProcessChannelMode(QProcess::MergedChannels);
    pRun->pProcess->setProcessEnvironment(environment);
    pRun->pProcess->start(
        "setpriv",
        QStringList{"--reuid=" + uid, "--regid=" + uid, "--clear-groups", program} + arguments);
    return pRun;
}

bool TestSingleInstance::waitFor(Run* pRun, const QByteArray& text)
{
    while (true) {
        pRun->output += pRun->pProcess->readAll();
        if (pRun->output.contains(text))
            return true;
        if (pRun->pProcess->state() == QProcess::NotRunning ||
            !pRun->pProcess->waitForReadyRead(10000))
            return false;
    }
}

// The same user starts twice in every way the environment can differ; whatever was left or
// taken before, exactly one instance runs and the second start brings it forward.
void TestSingleInstance::oneInstancePerUser_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("firstRuntimeDir");
    QTest::addColumn<bool>("secondRuntimeDir");

    QTest::newRow("both with XDG_RUNTIME_DIR") << "" << true << true;
    QTest::newRow("first with, second without") << "" << true << false;
    QTest::newRow("first without, second with") << "" << false << true;
    QTest::newRow("another user took the name first") << "squat" << true << true;
    QTest::newRow("instance killed, socket and lock left") << "killed" << false << false;
}

void TestSingleInstance::oneInstancePerUser()
{
    QFETCH(QString, before);
    QFETCH(bool, firstRuntimeDir);
    QFETCH(bool, secondRuntimeDir);

    Run* pSquatter = nullptr;
    if (before == "squat") {
        // Anyone may create names in /tmp: the other user takes ours, open to all, and
        // listens there holding the lock.
        QVERIFY(QDir().mkpath(instanceFolder()));
        QVERIFY(QFile::setPermissions(instanceFolder(), QFileDevice::Permissions(0x7777)));
        QCOMPARE(chown(qPrintable(instanceFolder()), 65534, 65534), 0);
        pSquatter = start(probe(), {"--squat", instanceFolder() + "/THERMORA"}, 65534);
        QVERIFY(waitFor(pSquatter, "squatting"));
    } else if (before == "killed") {
        Run* pDead = startProbe();
        QVERIFY(waitFor(pDead, "ready"));
        pDead->pProcess->kill(); // no chance to remove its socket
        QVERIFY(pDead->pProcess->waitForFinished(10000));
    }

    Run* pFirst = startProbe(firstRuntimeDir);
    QVERIFY2(waitFor(pFirst, "ready"), pFirst->output.constData());
    for (int i = 0; i < 2; ++i) { // the running one keeps listening
        Run* pSecond = startProbe(secondRuntimeDir);
        QVERIFY(pSecond->pProcess->waitForFinished(10000));
        QCOMPARE(pSecond->pProcess->exitCode(), 1);
        QVERIFY(!pSecond->pProcess->readAll().contains("ready"));
        QVERIFY(waitFor(pFirst, "knock visible=1"));
        pFirst->output.clear();
    }
    if (pSquatter) {
        pSquatter->output += pSquatter->pProcess->readAll();
        QVERIFY(!pSquatter->output.contains("knock"));
    }
}

// Root can reach the socket of any user: its knock must not pull that user's window forward.
void TestSingleInstance::knockFromAnotherUserIgnored()
{
    Run* pFirst = startProbe();
    QVERIFY(waitFor(pFirst, "ready"));
    QLocalSocket intruder;
    intruder.connectToServer(instanceFolder() + "/THERMORA");
    QVERIFY(intruder.waitForConnected(5000));

    Run* pSecond = startProbe();
    QVERIFY(pSecond->pProcess->waitForFinished(10000));
    QCOMPARE(pSecond->pProcess->exitCode(), 1);
    QVERIFY(waitFor(pFirst, "knock visible=1"));
    QCOMPARE(pFirst->output.count("knock"), 1); // the intruder's came first and was ignored
}

// The program itself, twice, against the simulated SMC: the second start leaves with 1, the
// first one hears the knock (both read from its log), and a polite request ends it cleanly.
void TestSingleInstance::programAgainstSimulator()
{
    const QString binDir = TestSupport::binDir();
    if (!QFileInfo::exists(binDir + "/thermora") || !QFileInfo::exists(binDir + "/thermora-smcsim"))
        QSKIP("thermora or thermora-smcsim not built");

    // Under the short temporary home, wherever the build tree lives: socket paths are limited.
    const QString socket = m_Home.filePath("sim.sock");
    Run* pSim =
        start(binDir + "/thermora-smcsim",
              {"--socket", socket, "--profile", TestSupport::profilesDir() + "/MacPro4,1.profile"});
    QVERIFY2(waitFor(pSim, "serving"), "the simulator did not start");
    QSettings(m_Home.filePath(".config/brightfold/thermora.conf"), QSettings::IniFormat)
        .setValue("EnableLog", 1);
    QCOMPARE(QProcess::execute("chown", {"-R", QString::number(m_nUid), m_Home.path()}), 0);
    const QString logPath = m_Home.filePath("Desktop/Thermora.log");
    const auto logHas = [&logPath](const char* text) {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(text);
    };

    qputenv("THERMORA_SMC_SOCKET", QFile::encodeName(socket));
    Run* pFirst = start(binDir + "/thermora", {"/minimized"});
    QTRY_VERIFY_WITH_TIMEOUT(logHas("Main window created"), 20000);
    Run* pSecond = start(binDir + "/thermora", {"/minimized"});
    QVERIFY(pSecond->pProcess->waitForFinished(10000));
    QCOMPARE(pSecond->pProcess->exitCode(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(logHas("Another instance knocked"), 10000);

    pFirst->pProcess->terminate();
    QVERIFY(pFirst->pProcess->waitForFinished(20000));
    QCOMPARE(pFirst->pProcess->exitStatus(), QProcess::NormalExit);
    QCOMPARE(pFirst->pProcess->exitCode(), 0);
    QVERIFY(logHas("Termination requested by the system"));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
