#include "core/QMySysInfo.h"
#include "core/SysInfoHelpers.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "smc/sim/QSimServer.h"
#include "smc/sim/QSimSmc.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

class tst_SysInfo : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QCoreServices::setPreferences(nullptr); }
    void readOutputLines_data();
    void readOutputLines();
    void machineNameCaching_data();
    void machineNameCaching();
    void identifiers_data();
    void identifiers();
    void platformAsksRunningSimulator();
};

void tst_SysInfo::readOutputLines_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("no trailing newline") << "printf abc" << QStringList{"abc"};
    QTest::newRow("trailing newline, empty lines kept")
        << "printf \"a\\n\\nb\\n\"" << QStringList{"a", "", "b", ""};
    QTest::newRow("cut at NUL") << "printf \"ab\\000cd\\nef\"" << QStringList{"ab"};
    QTest::newRow("slow command stopped, output kept")
        << "sh -c \"printf partial; exec sleep 20\"" << QStringList{"partial"};
}

void tst_SysInfo::readOutputLines()
{
    QFETCH(QString, command);
    QFETCH(QStringList, lines);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readOutput(command, 500), lines);
    QVERIFY(timer.elapsed() < 10000);
}

void tst_SysInfo::machineNameCaching_data()
{
    QTest::addColumn<bool>("withStore");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<int>>("queries"); // by the first and the second instance
    QTest::addColumn<QString>("storedAfter");

    const auto add = [](const char* name, bool withStore, const char* stored, const char* answer,
                        const char* result, QList<int> queries, const char* storedAfter) {
        QTest::newRow(name) << withStore << QString(stored) << QString(answer) << QString(result)
                            << queries << QString(storedAfter);
    };
    add("stored name: no lookup", true, "iMac11,2", "MacPro4,1", "iMac11,2", {0, 0}, "iMac11,2");
    add("first run: one lookup, stored", true, "", "MacPro4,1", "MacPro4,1", {1, 0}, "MacPro4,1");
    add("nothing found: asked again, nothing stored", true, "", "", "", {2, 2}, "");
    add("no store: one lookup per instance", false, "", "Macmini5,1", "Macmini5,1", {1, 1}, "");
}

void tst_SysInfo::machineNameCaching()
{
    QFETCH(bool, withStore);
    QFETCH(QString, stored);
    QFETCH(QString, answer);
    QFETCH(QString, name);
    QFETCH(QList<int>, queries);
    QFETCH(QString, storedAfter);

    QTemporaryDir dir;
    QPreferences preferences(dir.filePath("thermora.ini"));
    preferences.setString("Machine", stored);
    QCoreServices::setPreferences(withStore ? &preferences : nullptr);
    QList<int> counted;
    for (int i = 0; i < 2; ++i) { // two starts over the same store
        int nQueries = 0;
        QMySysInfo info([&] {
            ++nQueries;
            return answer;
        });
        QCOMPARE(info.macModel(), 0); // nothing known before the first lookup
        QCOMPARE(info.machineName(), name);
        QCOMPARE(info.machineName(), name);
        QCOMPARE(info.isMacPro(), name.startsWith("MacPro"));
        counted << nQueries;
    }
    QCOMPARE(counted, queries);
    QCOMPARE(preferences.getString("Machine"), storedAfter);
}

void tst_SysInfo::identifiers_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("macPro");

    QTest::newRow("iMac13,1") << "iMac13,1" << 102 << false;
    QTest::newRow("Macmini5,1") << "Macmini5,1" << 201 << false;
    QTest::newRow("MacPro4,1") << "MacPro4,1" << 303 << true;
    QTest::newRow("MacPro5,1: no code") << "MacPro5,1" << 0 << true;
    QTest::newRow("case matters") << "macpro4,1" << 0 << false;
    QTest::newRow("unknown") << "" << 0 << false;
}

void tst_SysInfo::identifiers()
{
    QFETCH(QString, identifier);
    QFETCH(int, code);
    QFETCH(bool, macPro);

    QCOMPARE(SysInfoHelpers::modelCode(identifier), code);
    QCOMPARE(SysInfoHelpers::isMacProIdentifier(identifier), macPro);
    // "sysctl hw.model" prints the identifier after a 10-character label.
    QCOMPARE(SysInfoHelpers::identifierFromSysctl({"hw.model: " + identifier, "x"}), identifier);
}

void tst_SysInfo::platformAsksRunningSimulator()
{
    QTemporaryDir dir;
    const QString socketPath = dir.filePath("smc.sock");
    QSimSmc sim;
    sim.setModel("MacPro4,1");
    QSimServer server(sim);
    QString error;
    QVERIFY2(server.listen(socketPath, &error), qPrintable(error));
    std::thread serving([&server] { server.run(); });
    qputenv("THERMORA_SMC_SOCKET", socketPath.toLocal8Bit());
    QMySysInfo info; // the platform's own lookup
    const QString fromSimulator = info.OS_GetMachineName();
    server.stop();
    serving.join();
    const QString afterStop = info.OS_GetMachineName(); // falls back to the firmware tables
    qunsetenv("THERMORA_SMC_SOCKET");

    QCOMPARE(fromSimulator, QStringLiteral("MacPro4,1"));
    QCOMPARE(afterStop, SysInfoHelpers::appleDmiProductName("/sys/class/dmi/id"));
    QCOMPARE(info.OS_GetOSVersionString(), QStringLiteral("Mac OS X Unknown"));
    QCOMPARE(SysInfoHelpers::osVersionName(11), QStringLiteral("Mac OS X 10.9"));
    QCOMPARE(SysInfoHelpers::osVersionName(7), QStringLiteral("Mac OS X 10.5"));
}

QTEST_GUILESS_MAIN(tst_SysInfo)
#include "tst_sysinfo.moc"
