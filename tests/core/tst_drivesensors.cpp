#include "core/QTempSensorSmart.h"
#include "core/drives/QDriveSource.h"

#include <QtTest>

#include <thread>

#include <cerrno>

namespace {

constexpr uint32_t kTimeout = 0xE00002D6, kNotResponding = 0xE00002ED, kError = 0xE00002BC;

// A drive as a source would answer: its blocks and the result codes of its calls.
struct FakeDrive
{
    QByteArray identify;
    QByteArray smart;
    uint32_t nIdentify = 0, nEnable = 0, nRead = 0;
    bool bOpens = true;
};

struct QFakeHandle : QDriveHandle
{
    explicit QFakeHandle(FakeDrive* p) : d(p) {}
    uint32_t identify(QByteArray& block) override { return block = d->identify, d->nIdentify; }
    uint32_t enableSmart() override { return d->nEnable; }
    uint32_t readSmartData(QByteArray& block) override { return block = d->smart, d->nRead; }
    FakeDrive* d;
};

// Drive i is named "i"; handles read the drive's fields at every call.
struct QFakeSource : QDriveSource
{
    QVector<FakeDrive> drives;

    int deviceNames(QStringList& names) override
    {
        for (int i = 0; i < drives.size(); ++i)
            names << QString::number(i);
        return drives.size();
    }
    QDriveHandle* open(const QString& name, int* pErrno) override
    {
        FakeDrive& drive = drives[name.toInt()];
        *pErrno = ENODEV;
        return drive.bOpens ? new QFakeHandle(&drive) : nullptr;
    }
};

// The identify data as a drive sends it: the model blank-padded, each byte pair swapped.
QByteArray identifyBlock(const QByteArray& model, int nRotation)
{
    QByteArray block(512, '\x11');
    const QByteArray field = model.leftJustified(40, ' ', true);
    for (int i = 0; i < 40; i += 2) {
        block[54 + i] = field[i + 1];
        block[55 + i] = field[i];
    }
    block[434] = static_cast<char>(nRotation & 0xFF);
    block[435] = static_cast<char>(nRotation >> 8);
    return block;
}

// A SMART table of records (id, raw[0], raw[4]); the other bytes of each record hold values
// that must not be taken for the temperature or the limit.
QByteArray smartBlock(const QVector<QVector<int>>& records, int nSize = 512)
{
    QByteArray block(512, '\0');
    for (int i = 0; i < records.size(); ++i) {
        char* p = block.data() + 2 + 12 * i;
        p[0] = static_cast<char>(records[i][0]);
        p[3] = p[4] = p[6] = p[7] = p[8] = p[10] = 17; // values, flags, lowest reading...
        p[5] = static_cast<char>(records[i][1]);
        p[9] = static_cast<char>(records[i][2]);
    }
    return block.left(nSize);
}

QFakeSource* install(const QVector<FakeDrive>& drives)
{
    auto* pSource = new QFakeSource;
    pSource->drives = drives;
    QDriveSource::setInstance(pSource);
    return pSource;
}

FakeDrive drive(const QByteArray& model, int nTemp)
{
    return {identifyBlock(model, 7200), smartBlock({{194, nTemp, 0}})};
}

} // namespace

Q_DECLARE_METATYPE(FakeDrive)

// Drive sensors over raw blocks: naming, kind, temperature, proposed range and the slot table.
class tst_DriveSensors : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QDriveSource::setInstance(nullptr); }
    void blocks_data();
    void blocks();
    void twentySlots();
    void failedDriveKeepsOthersReading();
    void failedReadsKeepLastReading();
};

void tst_DriveSensors::blocks_data()
{
    QTest::addColumn<FakeDrive>("drive");
    QTest::addColumn<QString>("expected"); // name|icon type|value|proposed range
    const QByteArray hdd = identifyBlock("  HDX-2000 LAPTOP", 7200), flash(40, '#');
    auto row = [](const char* tag, const QByteArray& identify, const QByteArray& smart,
                  const char* expected, uint32_t nIdentify = 0) {
        QTest::newRow(tag) << FakeDrive{identify, smart, nIdentify} << QString(expected);
    };
    row("194 ahead of 190", hdd, smartBlock({{9, 50, 0}, {190, 30, 70}, {194, 40, 60}}),
        "HDX-2000 LAPTOP|1|40|50-60");
    row("only 190", hdd, smartBlock({{5, 0, 0}, {190, 33, 0}}), "HDX-2000 LAPTOP|1|33|42-52");
    row("neither", hdd, smartBlock({{9, 41, 60}, {231, 38, 50}}), "HDX-2000 LAPTOP|1|0|42-52");
    row("short read", hdd, smartBlock({{194, 40, 60}}, 300), "HDX-2000 LAPTOP|1|0|42-52");
    row("194 in the last record", hdd,
        smartBlock(QVector<QVector<int>>(29, {1, 9, 9}) + QVector<QVector<int>>{{194, 44, 0}}),
        "HDX-2000 LAPTOP|1|44|42-52");
    row("raw4 below the reading", hdd, smartBlock({{194, 36, 20}}), "HDX-2000 LAPTOP|1|36|42-52");
    row("raw4 at the reading", hdd, smartBlock({{194, 36, 36}}), "HDX-2000 LAPTOP|1|36|42-52");
    row("raw4 one above", hdd, smartBlock({{194, 36, 37}}), "HDX-2000 LAPTOP|1|36|27-37");
    row("raw4 past 100", hdd, smartBlock({{194, 36, 250}}), "HDX-2000 LAPTOP|1|36|42-52");
    row("raw0 past 100", hdd, smartBlock({{194, 255, 0}}), "HDX-2000 LAPTOP|1|0|42-52");
    row("raw0 zero", hdd, smartBlock({{194, 0, 60}, {190, 35, 0}}), "HDX-2000 LAPTOP|1|0|42-52");
    row("rotation 1, full-width model", identifyBlock(flash, 1), smartBlock({{194, 31, 0}}),
        "########################################|2|31|42-52");
    row("rotation ffff", identifyBlock("DISK", 0xFFFF), smartBlock({{194, 31, 0}}),
        "DISK|1|31|42-52");
    row("short identify", hdd.left(500), smartBlock({{194, 31, 0}}), "|1|31|42-52");
    row("identify timed out", hdd, smartBlock({{194, 31, 0}}), "HDX-2000 LAPTOP|1|31|42-52",
        kTimeout);
    row("identify not responding", hdd, smartBlock({{194, 31, 0}}), "HDX-2000 LAPTOP|1|31|42-52",
        kNotResponding);
    row("identify failed", hdd, smartBlock({{194, 31, 0}}), "|1|31|42-52", kError);
}

void tst_DriveSensors::blocks()
{
    QFETCH(FakeDrive, drive);
    QFETCH(QString, expected);
    install({drive});
    QVector<QTempSensorSmart*> sensors = QTempSensorSmart::LoadAvailableSensors();
    QCOMPARE(sensors.size(), 1);
    QTempSensorSmart* p = sensors.first();
    p->UpdateValue(nullptr);
    QVERIFY(p->isHDD());
    QCOMPARE(p->GetDisplayName(), p->GetKey());
    QCOMPARE(QStringLiteral("%1|%2|%3|%4-%5")
                 .arg(p->GetKey())
                 .arg(p->GetFanType())
                 .arg(p->GetValue())
                 .arg(p->GetProposedMin())
                 .arg(p->GetProposedMax()),
             expected);
    qDeleteAll(sensors);
}

// Twenty drives are read; the 21st is listed without a name and never read. Closing the
// sensors frees their slots for the next discovery.
void tst_DriveSensors::twentySlots()
{
    QVector<FakeDrive> drives;
    for (int i = 0; i < 21; ++i)
        drives << drive("DRIVE " + QByteArray::number(i), 30 + i);
    install(drives);
    for (int nRound = 0; nRound < 2; ++nRound) {
        QVector<QTempSensorSmart*> sensors = QTempSensorSmart::LoadAvailableSensors();
        QCOMPARE(sensors.size(), 21);
        for (int i = 0; i < 21; ++i) {
            sensors[i]->UpdateValue(nullptr);
            QCOMPARE(sensors[i]->GetKey(), i < 20 ? QStringLiteral("DRIVE %1").arg(i) : QString());
            QCOMPARE(sensors[i]->GetValue(), i < 20 ? 30.0 + i : 0.0);
        }
        errno = 0;
        QCOMPARE(deviceopen("0", "ATA"), -1);
        QCOMPARE(errno, EMFILE);
        qDeleteAll(sensors);
    }
    QStringList names;
    QCOMPARE(make_device_names(&names, "SCSI") + names.size(), 0);
    QCOMPARE(deviceopen("0", "SCSI"), -1);
    QCOMPARE(errno, EINVAL);
    const int nSlot = deviceopen("20", "ATA");
    QCOMPARE(nSlot, 0);
    deviceclose(nSlot);
}

// A drive that cannot be opened gets a nameless sensor; the drives after it still read their
// own temperatures.
void tst_DriveSensors::failedDriveKeepsOthersReading()
{
    QFakeSource* pSource = install({drive("A", 31), drive("B", 32), drive("C", 33)});
    pSource->drives[1].bOpens = false;
    QVector<QTempSensorSmart*> sensors = QTempSensorSmart::LoadAvailableSensors();
    QCOMPARE(sensors.size(), 3);
    for (QTempSensorSmart* pSensor : sensors)
        pSensor->UpdateValue(nullptr);
    QCOMPARE(sensors[1]->GetKey(), QString());
    QCOMPARE(sensors[1]->GetValue(), 0.0);
    QCOMPARE(sensors[2]->GetKey(), QStringLiteral("C"));
    QCOMPARE(sensors[2]->GetValue(), 33.0);
    qDeleteAll(sensors);
}

// A failed enable or read leaves the last value and range.
void tst_DriveSensors::failedReadsKeepLastReading()
{
    QFakeSource* pSource = install({drive("A", 31)});
    pSource->drives[0].smart = smartBlock({{194, 40, 58}});
    QVector<QTempSensorSmart*> sensors = QTempSensorSmart::LoadAvailableSensors();
    QTempSensorSmart* pSensor = sensors.first();
    // The fan dialog may read the range while the update pass sets it (the thread sanitizer
    // watches this one).
    std::thread dialog([pSensor] { QVERIFY(pSensor->GetProposedMax() >= 52); });
    pSensor->UpdateValue(nullptr);
    dialog.join();
    pSource->drives[0].smart = smartBlock({{194, 45, 0}});
    pSource->drives[0].nEnable = kError;
    pSensor->UpdateValue(nullptr);
    pSource->drives[0].nEnable = 0;
    pSource->drives[0].nRead = kError;
    pSensor->UpdateValue(nullptr);
    QCOMPARE(pSensor->GetValue(), 40.0);
    QCOMPARE(pSensor->GetProposedMin(), 48);
    QCOMPARE(pSensor->GetProposedMax(), 58);
    pSource->drives[0].nRead = 0;
    pSensor->UpdateValue(nullptr); // a later reading without a limit keeps the range
    QCOMPARE(pSensor->GetValue(), 45.0);
    QCOMPARE(pSensor->GetProposedMax(), 58);
    qDeleteAll(sensors);
}

QTEST_GUILESS_MAIN(tst_DriveSensors)
#include "tst_drivesensors.moc"
