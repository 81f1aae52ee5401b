#include "core/QTempSensorSmart.h"
#include "core/drives/QDriveSource.h"
#include "core/drives/linux/QDriveSourceLinux.h"
#include "helpers/QClock.h"
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

using Sensors = std::vector<std::unique_ptr<QTempSensorSmart>>;

// The drives of the current source: "name kind value min-max" each, read once.
QStringList describe(Sensors& sensors)
{
    QStringList lines;
    for (const QTempSensorSmart* p : QTempSensorSmart::LoadAvailableSensors())
        sensors.emplace_back(const_cast<QTempSensorSmart*>(p));
    for (auto& pSensor : sensors) {
        pSensor->UpdateValue(nullptr);
        lines << QStringLiteral("%1 %2 %3 %4-%5")
                     .arg(pSensor->GetKey(), pSensor->isSSD() ? "SSD" : "HDD")
                     .arg(pSensor->GetValue())
                     .arg(pSensor->GetProposedMin())
                     .arg(pSensor->GetProposedMax());
    }
    return lines;
}

} // namespace

// Where drives come from: the kernel's sensors, and the simulator in-process and as a daemon.
class tst_DriveSources : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QDriveSource::setInstance(nullptr); }
    void kernelSensors();
    void simulatedDrivesWarmUp();
    void daemonReplaysBlocks_data();
    void daemonReplaysBlocks();
};

// Disks whose device cannot be asked directly are read through drivetemp and nvme sensors,
// in numeric order; other sensors and unreadable readings are passed over.
void tst_DriveSources::kernelSensors()
{
    QTemporaryDir dir;
    const QString sys = dir.filePath("sys"), hwmon = sys + "/class/hwmon/hwmon";
    writeFile(dir.filePath("dev/sda"), "not a disk"); // opens, but answers no ATA command
    writeFile(sys + "/block/sda/queue/rotational", "1\n");
    writeFile(sys + "/block/sdb/queue/rotational", "0\n");
    const QList<QList<QByteArray>> sensors = {{"10", "drivetemp", "FLASH 2", "35400", "", "sdb"},
                                              {"2", "coretemp", "CPU", "50000", ""},
                                              {"1", "nvme", "NV 1TB", "38500", "84850"},
                                              {"0", "drivetemp", "DISK 1", "41000", "60000", "sda"},
                                              {"3", "drivetemp", "DISK 2", "", "60000"}};
    for (const QList<QByteArray>& s : sensors) {
        writeFile(hwmon + s[0] + "/name", s[1] + "\n");
        writeFile(hwmon + s[0] + "/device/model", s[2] + "   \n");
        if (!s[3].isEmpty())
            writeFile(hwmon + s[0] + "/temp1_input", s[3] + "\n");
        if (!s[4].isEmpty())
            writeFile(hwmon + s[0] + "/temp1_max", s[4] + "\n");
        if (s.size() > 5)
            writeFile(hwmon + s[0] + "/device/block/" + s[5] + "/size", "1");
    }
    QDriveSource::setInstance(new QDriveSourceLinux(sys, dir.filePath("dev")));
    Sensors owned;
    QCOMPARE(describe(owned), QStringList({"DISK 1 HDD 41 50-60", "NV 1TB SSD 39 75-85",
                                           "DISK 2 HDD 0 42-52", "FLASH 2 SSD 35 42-52"}));
}

// The profile's hard disk and solid-state drive reach the program through the simulator's
// socket (the platform's choice while a simulator serves the SMC) and warm up under load.
void tst_DriveSources::simulatedDrivesWarmUp()
{
    QTemporaryDir dir;
    QManualClock clock;
    QSimSmc sim(&clock);
    QString error;
    QVERIFY2(sim.loadProfile("MacPro4,1", {TestSupport::profilesDir()}, &error), qPrintable(error));
    QSimServer server(sim);
    QVERIFY(server.listen(dir.filePath("smc.sock"), &error));
    std::thread serving([&server] { server.run(); });
    qputenv("THERMORA_SMC_SOCKET", dir.filePath("smc.sock").toLocal8Bit());
    Sensors sensors;
    const QStringList cold = describe(sensors);
    clock.setMsecsSinceEpoch(clock.msecsSinceEpoch() + 900 * 1000); // 10 minutes into the load
    const QStringList warm = describe(sensors);
    server.stop();
    serving.join();
    qunsetenv("THERMORA_SMC_SOCKET");
    QCOMPARE(cold,
             QStringList({"SIMDRIVE HD-500G 7200 HDD 36 45-55", "SIMDRIVE SSD-256G SSD 31 42-52"}));
    QCOMPARE(warm.mid(2),
             QStringList({"SIMDRIVE HD-500G 7200 HDD 40 45-55", "SIMDRIVE SSD-256G SSD 41 42-52"}));
}

void tst_DriveSources::daemonReplaysBlocks_data()
{
    QTest::addColumn<QString>("smart");
    QTest::addColumn<QString>("expected");
    QTest::newRow("hdd") << "sim-hdd"
                         << "SIMDRIVE HD-500G 7200 HDD 36 45-55";
    QTest::newRow("ssd, 190 only") << "sim-ssd"
                                   << "SIMDRIVE HD-500G 7200 HDD 31 42-52";
    QTest::newRow("short block") << "short"
                                 << "holds 300 bytes";
    QTest::newRow("one file") << ""
                              << "bad value";
}

// Raw blocks given with --drive are served unchanged, after the profile's own drives; a
// block that is not 512 bytes or a value without two files is refused.
void tst_DriveSources::daemonReplaysBlocks()
{
    QFETCH(QString, smart);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString drives = TestSupport::profilesDir() + "/drives/", socket = dir.filePath("s");
    // File names may hold commas, as profile names do.
    QString drive = dir.filePath("id,entify");
    QVERIFY(QFile::copy(drives + "sim-hdd.identify", drive));
    if (smart == "short")
        writeFile(dir.filePath("short,block"), QByteArray(300, 'x'));
    drive += "," + (smart == "short"  ? dir.filePath("short,block")
                    : smart.isEmpty() ? QString()
                                      : drives + smart + ".smart");
    QProcess daemon;
    daemon.start(TestSupport::binDir() + "/thermora-smcsim",
                 {"--socket", socket, "--profile", "Macmini5,1", "--drive", drive});
    const bool bServes = daemon.waitForReadyRead(20000);
    if (bServes) {
        qputenv("THERMORA_SMC_SOCKET", socket.toLocal8Bit());
        Sensors sensors;
        const QStringList lines = describe(sensors);
        QByteArray served;
        std::unique_ptr<QDriveHandle>(QDriveSource::instance()->open("sim/2", nullptr))
            ->readSmartData(served);
        QFile file(drives + smart + ".smart");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(served, file.readAll());
        qunsetenv("THERMORA_SMC_SOCKET");
        daemon.terminate();
        QVERIFY(daemon.waitForFinished(20000));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.last(), expected);
    } else {
        daemon.waitForFinished(20000); // false when it has ended already
        QCOMPARE(daemon.exitCode(), 2);
        QVERIFY2(daemon.readAllStandardError().contains(expected.toUtf8()), qPrintable(expected));
    }
}

QTEST_GUILESS_MAIN(tst_DriveSources)
#include "tst_drivesources.moc"
