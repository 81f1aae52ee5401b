#include <QElapsedTimer>
#include <QProcess>
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

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
