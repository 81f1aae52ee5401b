#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <vector>

// One instance per user, checked with real processes: a probe program builds the application
// object the way the program does.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void secondStartKnocks();
    void leftoversOfDeadInstances_data();
    void leftoversOfDeadInstances();
    void programAgainstSimulator();

private:
    QProcess* startProbe(const QStringList& arguments = QStringList());
    static bool waitForLine(QProcess* pProcess, const QByteArray& line);
    void expectSecondStartRefused(QProcess* pFirst);

    std::vector<std::unique_ptr<QProcess>> m_Processes;
};

void TestSingleInstance::cleanup()
{
    for (auto& pProcess : m_Processes) {
        if (pProcess->state() != QProcess::NotRunning) {
            pProcess->terminate();
            if (!pProcess->waitForFinished(5000))
                pProcess->kill();
            pProcess->waitForFinished(5000);
        }
    }
    m_Processes.clear();
}

QProcess* TestSingleInstance::startProbe(const QStringList& arguments)
{
    m_Processes.push_back(std::make_unique<QProcess>());
    QProcess* pProcess = m_Processes.back().get();
    pProcess->setProcessChannelMode(QProcess::SeparateChannels);
    pProcess->start(QCoreApplication::applicationDirPath() + "/thermora_instance_probe", arguments);
    return pProcess;
}

bool TestSingleInstance::waitForLine(QProcess* pProcess, const QByteArray& line)
{
    QByteArray seen;
    while (true) {
        seen += pProcess->readAllStandardOutput();
        if (seen.split('\n').contains(line))
            return true;
        if (pProcess->state() == QProcess::NotRunning)
            return false;
        if (!pProcess->waitForReadyRead(10000) && pProcess->state() != QProcess::NotRunning)
            return false;
    }
}

void TestSingleInstance::expectSecondStartRefused(QProcess* pFirst)
{
    QElapsedTimer timer;
    timer.start();
    QProcess* pSecond = startProbe();
    QVERIFY(pSecond->waitForFinished(10000));
    qInfo("second instance left after %lld ms", timer.elapsed());
    QCOMPARE(pSecond->exitStatus(), QProcess::NormalExit);
    QCOMPARE(pSecond->exitCode(), 1);
    QVERIFY(!pSecond->readAllStandardOutput().contains("ready"));
    QVERIFY(waitForLine(pFirst, "knock visible=1"));
}

void TestSingleInstance::secondStartKnocks()
{
    QProcess* pFirst = startProbe();
    QVERIFY(waitForLine(pFirst, "ready"));
    expectSecondStartRefused(pFirst);
    expectSecondStartRefused(pFirst); // the running one keeps listening
    QCOMPARE(pFirst->state(), QProcess::Running);
}

void TestSingleInstance::leftoversOfDeadInstances_data()
{
    QTest::addColumn<bool>("killedWhileRunning");
    QTest::newRow("socket of an instance killed while running") << true;
    QTest::newRow("lock of a start-up that died holding it") << false;
}

void TestSingleInstance::leftoversOfDeadInstances()
{
    QFETCH(bool, killedWhileRunning);
    if (killedWhileRunning) {
        QProcess* pDead = startProbe();
        QVERIFY(waitForLine(pDead, "ready"));
        pDead->kill(); // no chance to remove its socket
        QVERIFY(pDead->waitForFinished(10000));
    } else {
        QProcess* pDead = startProbe({"--die-holding-lock"});
        QVERIFY(waitForLine(pDead, "locked"));
        QVERIFY(pDead->waitForFinished(10000));
        QCOMPARE(pDead->exitCode(), 3);
    }

    // The user is not locked out, and the new instance guards the next start again.
    QProcess* pFirst = startProbe();
    QVERIFY2(waitForLine(pFirst, "ready"), "a leftover kept the program from starting");
    expectSecondStartRefused(pFirst);
}

// The program itself, twice, against the simulated SMC: the second start leaves with 1 and
// the first one hears the knock once its window exists (both read from its log).
void TestSingleInstance::programAgainstSimulator()
{
    const QString binDir = TestSupport::binDir();
    if (!QFileInfo::exists(binDir + "/thermora") || !QFileInfo::exists(binDir + "/thermora-smcsim"))
        QSKIP("thermora or thermora-smcsim not built");

    const QString runDir = qEnvironmentVariable("XDG_RUNTIME_DIR", QDir::tempPath());
    const QString socket = runDir + "/smcsim-singleinstance.sock";
    m_Processes.push_back(std::make_unique<QProcess>());
    QProcess* pSim = m_Processes.back().get();
    pSim->setProcessChannelMode(QProcess::MergedChannels);
    pSim->start(binDir + "/thermora-smcsim", {"--socket", socket, "--profile",
                                              TestSupport::profilesDir() + "/MacPro4,1.profile"});
    QVERIFY(pSim->waitForReadyRead(10000));
    QVERIFY2(pSim->readAll().contains("serving"), "the simulator did not start");

    const QString logPath = QDir::homePath() + "/Desktop/Thermora.log";
    QVERIFY(QDir().mkpath(QDir::homePath() + "/Desktop"));
    QFile::remove(logPath);
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
        settings.setValue("EnableLog", 1);
    }
    const auto logHas = [&logPath](const char* text) {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(text);
    };

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("THERMORA_SMC_SOCKET", socket);
    const auto startProgram = [&] {
        m_Processes.push_back(std::make_unique<QProcess>());
        QProcess* pProgram = m_Processes.back().get();
        pProgram->setProcessEnvironment(environment);
        pProgram->start(binDir + "/thermora", {"/minimized"});
        return pProgram;
    };

    QProcess* pFirst = startProgram();
    QTRY_VERIFY_WITH_TIMEOUT(logHas("Main window created"), 20000);

    QElapsedTimer timer;
    timer.start();
    QProcess* pSecond = startProgram();
    QVERIFY(pSecond->waitForFinished(10000));
    qInfo("second program left after %lld ms", timer.elapsed());
    QCOMPARE(pSecond->exitCode(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(logHas("Another instance knocked"), 10000);
    QCOMPARE(pFirst->state(), QProcess::Running);

    // A polite request to end (logout, service stop) is an ordinary exit, not a death.
    pFirst->terminate();
    QVERIFY(pFirst->waitForFinished(20000));
    QCOMPARE(pFirst->exitStatus(), QProcess::NormalExit);
    QCOMPARE(pFirst->exitCode(), 0);
    QVERIFY(logHas("Termination requested by the system"));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
