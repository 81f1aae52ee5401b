#include "core/QMySysInfo.h"
#include "core/SysInfoHelpers.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "smc/sim/QSimServer.h"
#include "smc/sim/QSimSmc.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

namespace {
void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}
} // namespace

class TestSysInfo : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QCoreServices::setPreferences(nullptr); }

    void readOutputLines_data();
    void readOutputLines();
    void readOutputStopsSlowCommand();
    void sysctlIdentifier_data();
    void sysctlIdentifier();
    void machineNameCaching_data();
    void machineNameCaching();
    void modelCodes_data();
    void modelCodes();
    void osVersionNames_data();
    void osVersionNames();
    void dmiProductName_data();
    void dmiProductName();
    void modelSourcesOrder_data();
    void modelSourcesOrder();
    void platformAsksRunningSimulator();
};

void TestSysInfo::readOutputLines_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("no trailing newline") << "printf abc" << QStringList{"abc"};
    QTest::newRow("trailing newline gives empty last part")
        << "printf \"a\\nb\\n\"" << QStringList{"a", "b", ""};
    QTest::newRow("empty lines kept") << "printf \"a\\n\\nb\"" << QStringList{"a", "", "b"};
    QTest::newRow("cut at NUL") << "printf \"ab\\000cd\\nef\"" << QStringList{"ab"};
    QTest::newRow("NUL first") << "printf \"\\000abc\"" << QStringList{""};
    QTest::newRow("no output") << "true" << QStringList{""};
    QTest::newRow("missing program")
        << "/nonexistent/thermora-no-such-program -x" << QStringList{""};
    QTest::newRow("empty command") << "" << QStringList{""};
    QTest::newRow("standard error ignored")
        << "sh -c \"echo noise >&2; printf out\"" << QStringList{"out"};
    QTest::newRow("carriage return not a separator")
        << "printf \"a\\r\\nb\"" << QStringList{"a\r", "b"};
}

void TestSysInfo::readOutputLines()
{
    QFETCH(QString, command);
    QFETCH(QStringList, lines);
    QCOMPARE(readOutput(command), lines);
}

void TestSysInfo::readOutputStopsSlowCommand()
{
    // A command that outlives the limit is abandoned with what it had written so far.
    QElapsedTimer timer;
    timer.start();
    const QStringList lines = readOutput("sh -c \"printf partial; exec sleep 20\"", 300);
    QCOMPARE(lines, QStringList{"partial"});
    QVERIFY2(timer.elapsed() < 15000, "readOutput waited for the slow command to end");
}

void TestSysInfo::sysctlIdentifier_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("identifier");

    QTest::newRow("usual output") << QStringList{"hw.model: MacPro4,1", ""} << "MacPro4,1";
    QTest::newRow("only first line counts")
        << QStringList{"hw.model: iMac11,2", "hw.model: other"} << "iMac11,2";
    QTest::newRow("label only") << QStringList{"hw.model: "} << "";
    QTest::newRow("shorter than label taken whole") << QStringList{"MacPro1,1"} << "MacPro1,1";
    QTest::newRow("empty line") << QStringList{""} << "";
    QTest::newRow("no line") << QStringList{} << "";
}

void TestSysInfo::sysctlIdentifier()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, identifier);
    QCOMPARE(SysInfoHelpers::identifierFromSysctl(lines), identifier);
}

void TestSysInfo::machineNameCaching_data()
{
    QTest::addColumn<bool>("bWithStore");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<int>("nQueriesFirstInstance");
    QTest::addColumn<int>("nQueriesSecondInstance");
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("stored name: no lookup ever") << true << "iMac11,2"
                                                 << "MacPro4,1"
                                                 << "iMac11,2" << 0 << 0 << "iMac11,2";
    QTest::newRow("first run: one lookup, stored for the next start")
        << true << ""
        << "MacPro4,1"
        << "MacPro4,1" << 1 << 0 << "MacPro4,1";
    QTest::newRow("lookup finds nothing: retried, nothing stored") << true << ""
                                                                   << ""
                                                                   << "" << 2 << 2 << "";
    QTest::newRow("no store: one lookup per instance") << false << ""
                                                       << "Macmini5,1"
                                                       << "Macmini5,1" << 1 << 1 << "";
}

void TestSysInfo::machineNameCaching()
{
    QFETCH(bool, bWithStore);
    QFETCH(QString, stored);
    QFETCH(QString, answer);
    QFETCH(QString, expectedName);
    QFETCH(int, nQueriesFirstInstance);
    QFETCH(int, nQueriesSecondInstance);
    QFETCH(QString, storedAfter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString iniPath = dir.filePath("thermora.ini");
    std::unique_ptr<QPreferences> pPreferences;
    if (bWithStore) {
        pPreferences.reset(new QPreferences(iniPath));
        if (!stored.isEmpty())
            pPreferences->setString("Machine", stored);
        QCoreServices::setPreferences(pPreferences.get());
    }

    int nQueries = 0;
    auto countingQuery = [&nQueries, answer] {
        ++nQueries;
        return answer;
    };

    QMySysInfo first(countingQuery);
    QCOMPARE(first.machineName(), expectedName);
    QCOMPARE(first.machineName(), expectedName);
    QCOMPARE(nQueries, nQueriesFirstInstance);

    // A later start: a new instance over the same store.
    nQueries = 0;
    QMySysInfo second(countingQuery);
    QCOMPARE(second.machineName(), expectedName);
    QCOMPARE(second.machineName(), expectedName);
    QCOMPARE(nQueries, nQueriesSecondInstance);

    if (bWithStore) {
        pPreferences->sync();
        QCoreServices::setPreferences(nullptr);
        pPreferences.reset();
        QPreferences reopened(iniPath);
        QCOMPARE(reopened.getString("Machine"), storedAfter);
    }
}

void TestSysInfo::modelCodes_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<int>("nCode");
    QTest::addColumn<bool>("bMacPro");

    QTest::newRow("iMac11,2") << "iMac11,2" << 100 << false;
    QTest::newRow("iMac11,3") << "iMac11,3" << 101 << false;
    QTest::newRow("iMac13,1") << "iMac13,1" << 102 << false;
    QTest::newRow("iMac13,2") << "iMac13,2" << 103 << false;
    QTest::newRow("Macmini3,1") << "Macmini3,1" << 200 << false;
    QTest::newRow("Macmini5,1") << "Macmini5,1" << 201 << false;
    QTest::newRow("MacPro1,1") << "MacPro1,1" << 300 << true;
    QTest::newRow("MacPro2,1") << "MacPro2,1" << 301 << true;
    QTest::newRow("MacPro3,1") << "MacPro3,1" << 302 << true;
    QTest::newRow("MacPro4,1") << "MacPro4,1" << 303 << true;
    QTest::newRow("MacPro5,1: Mac Pro without code") << "MacPro5,1" << 0 << true;
    QTest::newRow("bare MacPro") << "MacPro" << 0 << true;
    QTest::newRow("other model") << "MacBookPro8,1" << 0 << false;
    QTest::newRow("case matters for code and flag") << "macpro4,1" << 0 << false;
    QTest::newRow("trailing blank is another identifier") << "iMac11,2 " << 0 << false;
    QTest::newRow("prefix too short") << "MacPr" << 0 << false;
    QTest::newRow("unknown machine") << "" << 0 << false;
}

void TestSysInfo::modelCodes()
{
    QFETCH(QString, identifier);
    QFETCH(int, nCode);
    QFETCH(bool, bMacPro);

    QMySysInfo info([identifier] { return identifier; });
    // Before machineName() nothing is known.
    QCOMPARE(info.macModel(), 0);
    QCOMPARE(info.isMacPro(), false);

    QCOMPARE(info.machineName(), identifier);
    QCOMPARE(info.macModel(), nCode);
    QCOMPARE(info.isMacPro(), bMacPro);
}

void TestSysInfo::osVersionNames_data()
{
    QTest::addColumn<int>("nVersion");
    QTest::addColumn<QString>("name");

    QTest::newRow("10.4") << 6 << "Mac OS X Unknown";
    QTest::newRow("10.5") << 7 << "Mac OS X 10.5";
    QTest::newRow("10.6") << 8 << "Mac OS X 10.6";
    QTest::newRow("10.7") << 9 << "Mac OS X 10.7";
    QTest::newRow("10.8") << 10 << "Mac OS X 10.8";
    QTest::newRow("10.9") << 11 << "Mac OS X 10.9";
    QTest::newRow("later") << 12 << "Mac OS X Unknown";
    QTest::newRow("none") << 0 << "Mac OS X Unknown";
}

void TestSysInfo::osVersionNames()
{
    QFETCH(int, nVersion);
    QFETCH(QString, name);
    QCOMPARE(SysInfoHelpers::osVersionName(nVersion), name);
}

void TestSysInfo::dmiProductName_data()
{
    QTest::addColumn<QByteArray>("vendor");  // empty: file absent
    QTest::addColumn<QByteArray>("product"); // empty: file absent
    QTest::addColumn<QString>("identifier");

    QTest::newRow("Apple Inc.") << QByteArray("Apple Inc.\n") << QByteArray("MacPro5,1\n")
                                << "MacPro5,1";
    QTest::newRow("older vendor name")
        << QByteArray("Apple Computer, Inc.\n") << QByteArray("MacPro1,1\n") << "MacPro1,1";
    QTest::newRow("no line end") << QByteArray("Apple Inc.") << QByteArray("iMac13,1")
                                 << "iMac13,1";
    QTest::newRow("other vendor") << QByteArray("LENOVO\n") << QByteArray("20HRCTO1WW\n") << "";
    QTest::newRow("vendor case matters")
        << QByteArray("apple inc.\n") << QByteArray("iMac11,2\n") << "";
    QTest::newRow("vendor only similar")
        << QByteArray("Apple Inc. Clone\n") << QByteArray("iMac11,2\n") << "";
    QTest::newRow("no vendor file") << QByteArray() << QByteArray("iMac11,2\n") << "";
    QTest::newRow("Apple without product file") << QByteArray("Apple Inc.\n") << QByteArray() << "";
}

void TestSysInfo::dmiProductName()
{
    QFETCH(QByteArray, vendor);
    QFETCH(QByteArray, product);
    QFETCH(QString, identifier);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!vendor.isEmpty())
        writeFile(dir.filePath("sys_vendor"), vendor);
    if (!product.isEmpty())
        writeFile(dir.filePath("product_name"), product);

    QCOMPARE(SysInfoHelpers::appleDmiProductName(dir.path()), identifier);
}

void TestSysInfo::modelSourcesOrder_data()
{
    QTest::addColumn<QString>("socket");
    QTest::addColumn<QString>("simulatorAnswer");
    QTest::addColumn<bool>("bAppleDmi");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<int>("nSimulatorQueries");

    QTest::newRow("simulator wins over DMI") << "/run/sim.sock"
                                             << "MacPro4,1" << true << "MacPro4,1" << 1;
    QTest::newRow("silent simulator falls back to DMI") << "/run/sim.sock"
                                                        << "" << true << "iMac11,3" << 1;
    QTest::newRow("no socket: simulator not asked") << ""
                                                    << "MacPro4,1" << true << "iMac11,3" << 0;
    QTest::newRow("nothing known") << "/run/sim.sock"
                                   << "" << false << "" << 1;
}

void TestSysInfo::modelSourcesOrder()
{
    QFETCH(QString, socket);
    QFETCH(QString, simulatorAnswer);
    QFETCH(bool, bAppleDmi);
    QFETCH(QString, identifier);
    QFETCH(int, nSimulatorQueries);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("sys_vendor"), bAppleDmi ? "Apple Inc.\n" : "Dell Inc.\n");
    writeFile(dir.filePath("product_name"), "iMac11,3\n");

    int nQueries = 0;
    QString askedSocket;
    SysInfoHelpers::ModelSources sources;
    sources.simulatorSocket = socket;
    sources.dmiDir = dir.path();
    sources.simulatorModel = [&](const QString& path) {
        ++nQueries;
        askedSocket = path;
        return simulatorAnswer;
    };

    QCOMPARE(SysInfoHelpers::modelFromSources(sources), identifier);
    QCOMPARE(nQueries, nSimulatorQueries);
    if (nQueries > 0)
        QCOMPARE(askedSocket, socket);
}

void TestSysInfo::platformAsksRunningSimulator()
{
#ifndef Q_OS_LINUX
    QSKIP("the simulator is consulted only where the platform has no model query");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString socketPath = dir.filePath("smc.sock");

    QSimSmc sim;
    sim.setModel("MacPro4,1");
    QSimServer server(sim);
    QString error;
    QVERIFY2(server.listen(socketPath, &error), qPrintable(error));
    std::thread serving([&server] { server.run(); });

    const QByteArray previous = qgetenv("THERMORA_SMC_SOCKET");
    qputenv("THERMORA_SMC_SOCKET", socketPath.toLocal8Bit());
    QMySysInfo info; // the platform's own lookup
    const QString fromSimulator = info.OS_GetMachineName();

    server.stop();
    serving.join();
    // The daemon is gone: the lookup falls back to this machine's firmware tables.
    const QString afterStop = info.OS_GetMachineName();
    if (previous.isEmpty())
        qunsetenv("THERMORA_SMC_SOCKET");
    else
        qputenv("THERMORA_SMC_SOCKET", previous);

    QCOMPARE(fromSimulator, QStringLiteral("MacPro4,1"));
    QCOMPARE(afterStop, SysInfoHelpers::appleDmiProductName("/sys/class/dmi/id"));
    QCOMPARE(info.OS_GetOSVersionString(), QStringLiteral("Mac OS X Unknown"));
}

QTEST_GUILESS_MAIN(TestSysInfo)
#include "tst_sysinfo.moc"
