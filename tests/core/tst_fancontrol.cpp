#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "support/QMemoryLogDestination.h"
#include "support/QMemorySmcControl.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
// Two fans (the second without a readable name) and a handful of temperature keys.
void addMachine(QMemorySmcControl& smc, int nFans = 2)
{
    smc.setKey("FNum", "ui8 ", QByteArray(1, char(nFans)));
    smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
    for (int i = 0; i < nFans; ++i) {
        smc.addFan(i, i == 0 ? QByteArray("CPU") : QByteArray(), 1000 + i * 100, 1500, 6000);
    }
    smc.setTemperature("TA0P", 24.5);                // Ambient
    smc.setTemperature("TB0T", 30.0);                // Bottom Enclosure
    smc.setTemperature("TC0D", 50.0);                // CPU Diode
    smc.setTemperature("TC0P", 45.2);                // CPU Proximity
    smc.setTemperature("TG0D", 40.0);                // GPU Diode
    smc.setTemperature("Tm0P", 38.0);                // Mem Controller
    smc.setTemperature("Ts0P", 28.0);                // Left Palm Rest
    smc.setKey("TX9Z", "ui8 ", QByteArray(1, '\0')); // not a temperature type
}

QStringList keysOf(const QVector<QTempSensor*>& sensors)
{
    QStringList keys;
    for (const QTempSensor* pSensor : sensors) {
        keys << pSensor->GetKey();
    }
    return keys;
}

QStringList namesOf(const QFanControl& controller)
{
    QStringList names;
    for (const FanInfo* pFan : controller.fans()) {
        names << pFan->GetName();
    }
    return names;
}

// "KEY=hex" for every write, in order.
QStringList writesOf(const QMemorySmcControl& smc)
{
    QStringList out;
    for (const QMemorySmcControl::Write& w : smc.writes()) {
        out << QString::fromLatin1(w.key + "=" + w.bytes.toHex());
    }
    return out;
}
} // namespace

class tst_FanControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startOrder_data();
    void startOrder();
    void fanCountFromController_data();
    void fanCountFromController();
    void filterAtStart_data();
    void filterAtStart();
    void modesAtStart_data();
    void modesAtStart();
    void badCache_data();
    void badCache();
    void ninthFanNeverManual();
    void speedWriteReassertsManualBit_data();
    void speedWriteReassertsManualBit();
    void backToAutomaticClearsBitOnly();
    void modesSavedAndKept();
    void speedReads_data();
    void speedReads();
    void readOnlyWritesNothing();

private:
    QStringList newLogLines();
    bool logHas(const QString& text);

    QSharedPointer<QMemoryLogDestination> m_pLog;
    int m_nLogSeen = 0;
    QScopedPointer<QTemporaryDir> m_pDir;
    QScopedPointer<QPreferences> m_pPrefs;
    QManualClock m_Clock;
};

void tst_FanControl::initTestCase()
{
    m_pLog.reset(new QMemoryLogDestination);
    QsLogging::Logger::instance().addDestination(m_pLog);
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::InfoLevel);
}

void tst_FanControl::init()
{
    m_pDir.reset(new QTemporaryDir);
    m_pPrefs.reset(new QPreferences(m_pDir->filePath("thermora.ini")));
    QCoreServices::setPreferences(m_pPrefs.data());
    newLogLines();
}

void tst_FanControl::cleanup()
{
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setReadOnly(false);
    m_pPrefs.reset();
    m_pDir.reset();
}

QStringList tst_FanControl::newLogLines()
{
    QsLogging::Logger::instance().waitForWrites();
    const QStringList all = m_pLog->lines();
    const QStringList fresh = all.mid(m_nLogSeen);
    m_nLogSeen = all.size();
    return fresh;
}

bool tst_FanControl::logHas(const QString& text)
{
    static QStringList s_Lines;
    s_Lines += newLogLines();
    for (const QString& line : s_Lines) {
        if (line.contains(text)) {
            return true;
        }
    }
    qWarning().noquote() << "log lacks" << text << "\n" << s_Lines.join('\n');
    return false;
}

void tst_FanControl::startOrder_data()
{
    QTest::addColumn<QString>("cachedFans");
    QTest::addColumn<QString>("cachedSensors");
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<QStringList>("allSensors");
    QTest::addColumn<bool>("enumerates");

    QTest::newRow("first start: key order, unnamed fan cached by index")
        << ""
        << "" << QStringList{"CPU", "Fan 1"}
        << QStringList{"TA0P", "TB0T", "TC0D", "TC0P", "TG0D", "Tm0P", "Ts0P"} << true;
    QTest::newRow("cached start: display-name order, case-sensitive")
        << "Left,Right"
        << "Ta1X,Tm0P,TC0P,Ts0P,TB9X,TA0P" << QStringList{"Left", "Right"}
        << QStringList{"TA0P", "TC0P", "Ts0P", "Tm0P", "TB9X", "Ta1X"} << false;
}

void tst_FanControl::startOrder()
{
    QFETCH(QString, cachedFans);
    QFETCH(QString, cachedSensors);
    QFETCH(QStringList, fans);
    QFETCH(QStringList, allSensors);
    QFETCH(bool, enumerates);

    QMemorySmcControl smc;
    addMachine(smc);
    m_pPrefs->setString("Fans", cachedFans);
    m_pPrefs->setString("TempSensors", cachedSensors);

    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    QCOMPARE(namesOf(controller), fans);
    QCOMPARE(keysOf(controller.allSensors()), allSensors);
    QCOMPARE(smc.indexCalls() > 0, enumerates);
    if (enumerates) {
        QCOMPARE(m_pPrefs->getString("Fans"), fans.join(','));
        QCOMPARE(m_pPrefs->getString("TempSensors"), allSensors.join(','));
        QVERIFY(logHas("QFanControl::Init - first start"));
    } else {
        QCOMPARE(m_pPrefs->getString("TempSensors"), cachedSensors);
        QVERIFY(logHas("QFanControl::Init - LoadCachedFansAndTempSensors"));
    }
    QVERIFY(logHas("QFanControl::Init: number of supported SMART sensors: 0"));
}

void tst_FanControl::fanCountFromController_data()
{
    QTest::addColumn<int>("fnum"); // -1: unreadable
    QTest::addColumn<int>("fans");
    QTest::addColumn<QString>("warning");

    QTest::newRow("none") << 0 << 0 << "";
    QTest::newRow("unreadable") << -1 << 0 << "";
    QTest::newRow("one") << 1 << 1 << "";
    QTest::newRow("more than keys can name") << 12 << 10 << "FNum reports 12 fans, only 10";
}

void tst_FanControl::fanCountFromController()
{
    QFETCH(int, fnum);
    QFETCH(int, fans);
    QFETCH(QString, warning);

    QMemorySmcControl smc;
    addMachine(smc, qBound(0, fnum, 9));
    smc.setKey("FNum", "ui8 ", QByteArray(1, char(qMax(fnum, 0))));
    if (fnum < 0) {
        smc.setUnreadable("FNum");
    }
    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    QCOMPARE(controller.fanCount(), fans);
    QVERIFY(controller.GetFan(fans) == nullptr);
    QVERIFY(controller.GetFan(-1) == nullptr);
    QCOMPARE(controller.sensors().size(), 7); // sensors are loaded whatever the fans
    QCOMPARE(controller.loadAllTempSensors().size(), 7);
    if (!warning.isEmpty()) {
        QVERIFY(logHas(warning));
    }
}

void tst_FanControl::filterAtStart_data()
{
    QTest::addColumn<double>("celsius"); // negative: the key cannot be read
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("warning");

    QTest::newRow("0.0 is no reading") << 0.0 << false << "skipping sensor TC0P with value of 0";
    QTest::newRow("127.9 shown") << 127.9 << true << "";
    QTest::newRow("128.0 out of range")
        << 128.0 << false << "smc_get_temp - skipping sensor TC0P with value of 128";
    QTest::newRow("unreadable") << -1.0 << false << "skipping sensor TC0P with value of -1";
    QTest::newRow("just above zero") << 0.5 << true << "";
}

void tst_FanControl::filterAtStart()
{
    QFETCH(double, celsius);
    QFETCH(bool, shown);
    QFETCH(QString, warning);

    QMemorySmcControl smc;
    addMachine(smc);
    smc.setTemperature("TZ9Z", 0.0); // not in the sensor table: never read, never warned
    if (celsius < 0) {
        smc.setUnreadable("TC0P");
    } else {
        smc.setTemperature("TC0P", celsius);
    }
    QFanControl controller(&smc, &m_Clock);
    controller.Init();

    QCOMPARE(controller.sensorByKey("TC0P") != nullptr, shown);
    QVERIFY(keysOf(controller.allSensors()).contains("TC0P")); // tried again next start
    QVERIFY(controller.sensorByKey("TZ9Z") == nullptr);
    QVERIFY(controller.sensorByKey("TA0P") != nullptr);
    if (!warning.isEmpty()) {
        QVERIFY(logHas(warning));
    }
    QVERIFY(!newLogLines().join('\n').contains("TZ9Z"));
}

void tst_FanControl::modesAtStart_data()
{
    QTest::addColumn<int>("maskByte"); // -1: "FS! " cannot be read
    QTest::addColumn<QString>("stored0");
    QTest::addColumn<QString>("mode0");
    QTest::addColumn<bool>("manual0");
    QTest::addColumn<QString>("mode1");
    QTest::addColumn<bool>("manual1");
    QTest::addColumn<QStringList>("maskWrites");
    QTest::addColumn<QString>("warning");

    QTest::newRow("mask 0x02, nothing stored")
        << 0x02 << ""
        << "0" << false << "" << true << QStringList{"FS! =0002"} << "";
    QTest::newRow("mask unreadable: all automatic")
        << -1 << ""
        << "0" << false << "0" << false << QStringList{"FS! =0000", "FS! =0000"}
        << "cannot read the fan mode mask";
    QTest::newRow("stored constant")
        << 0 << "1,2500"
        << "1,2500" << true << "0" << false << QStringList{"FS! =0001", "FS! =0001"} << "";
    QTest::newRow("stored sensor mode")
        << 0 << "2,TC0P,45,80"
        << "2,TC0P,45,80" << true << "0" << false << QStringList{"FS! =0001", "FS! =0001"} << "";
    QTest::newRow("stored sensor gone") << 0 << "2,TQ0P,45,80"
                                        << "" << false << "0" << false << QStringList{"FS! =0000"}
                                        << "sensor TQ0P of the stored mode is not available";
    QTest::newRow("stored garbage")
        << 0x03 << "zzz"
        << "0" << false << "" << true << QStringList{"FS! =0002"} << "unreadable stored mode 'zzz'";
    QTest::newRow("stored 1 without speed")
        << 0 << "1x"
        << "0" << false << "0" << false << QStringList{"FS! =0000", "FS! =0000"}
        << "unreadable stored mode '1x'";
    QTest::newRow("stored speed not a number")
        << 0 << "1,abc"
        << "0" << false << "0" << false << QStringList{"FS! =0000", "FS! =0000"}
        << "stored speed in '1,abc' is not usable";
}

void tst_FanControl::modesAtStart()
{
    QFETCH(int, maskByte);
    QFETCH(QString, stored0);
    QFETCH(QString, mode0);
    QFETCH(bool, manual0);
    QFETCH(QString, mode1);
    QFETCH(bool, manual1);
    QFETCH(QStringList, maskWrites);
    QFETCH(QString, warning);

    QMemorySmcControl smc;
    addMachine(smc);
    if (maskByte < 0) {
        smc.setUnreadable("FS! ");
    } else {
        smc.setKey("FS! ", "ui16", QMemorySmcControl::twoBytes(0, maskByte));
    }
    if (!stored0.isEmpty()) {
        m_pPrefs->setString("Fan_0", stored0);
    }
    QFanControl controller(&smc, &m_Clock);
    controller.Init();

    FanInfo* pFan0 = controller.GetFan(0);
    FanInfo* pFan1 = controller.GetFan(1);
    QCOMPARE(pFan0->GetControlMode().toString(), mode0);
    QCOMPARE(pFan0->IsManual(), manual0);
    QCOMPARE(pFan1->GetControlMode().toString(), mode1);
    QCOMPARE(pFan1->IsManual(), manual1);
    QCOMPARE(writesOf(smc), maskWrites);
    if (pFan0->GetControlMode().GetMode() == FanControlMode::ModeSensor) {
        QCOMPARE(pFan0->GetControlMode().getSensor(), controller.sensorByKey("TC0P"));
    }
    if (!warning.isEmpty()) {
        QVERIFY(logHas(warning));
    }
}

void tst_FanControl::badCache_data()
{
    QTest::addColumn<QString>("cachedFans");
    QTest::addColumn<QString>("cachedSensors");
    QTest::addColumn<int>("fanCount"); // "FNum"; -1: unreadable
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<QStringList>("sensors");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("more cached fans than the controller has")
        << "CPU,ODD,HDD"
        << "TC0P" << 2 << QStringList{"CPU", "ODD"} << QStringList{"TC0P"}
        << QStringList{"3 cached fans, the controller has 2"};
    QTest::newRow("controller fan count unreadable")
        << "CPU,ODD"
        << "TC0P" << -1 << QStringList{} << QStringList{"TC0P"}
        << QStringList{"2 cached fans, the controller has 0"};
    QTest::newRow("sensor keys that cannot be SMC keys")
        << "CPU" << QString::fromUtf8("TC0P,,TOOLONG,T\u00e9XX,TA0P,T\tXX") << 1
        << QStringList{"CPU"} << QStringList{"TA0P", "TC0P"}
        << QStringList{"skipping cached sensor key ''", "skipping cached sensor key 'TOOLONG'",
                       QString::fromUtf8("skipping cached sensor key 'T\u00e9XX'")};
    QTest::newRow("empty fan name")
        << "CPU,,ODD"
        << "" << 3 << QStringList{"CPU", "Fan 1", "ODD"} << QStringList{} << QStringList{};
}

void tst_FanControl::badCache()
{
    QFETCH(QString, cachedFans);
    QFETCH(QString, cachedSensors);
    QFETCH(int, fanCount);
    QFETCH(QStringList, fans);
    QFETCH(QStringList, sensors);
    QFETCH(QStringList, warnings);

    QMemorySmcControl smc;
    addMachine(smc, qMax(fanCount, 0));
    if (fanCount < 0) {
        smc.setUnreadable("FNum");
    }
    m_pPrefs->setString("Fans", cachedFans);
    m_pPrefs->setString("TempSensors", cachedSensors);
    for (int i = 0; i < 3; ++i) {
        m_pPrefs->setString(QString("Fan_%1").arg(i), "1,2000");
    }
    {
        QFanControl controller(&smc, &m_Clock);
        controller.Init();
        QCOMPARE(namesOf(controller), fans);
        QCOMPARE(keysOf(controller.sensors()), sensors);
        for (int i = 0; i < 4; ++i) {
            controller.SetFanRPM(i, 2000);
        }
    }
    // No key of a fan beyond the controller's count was ever written.
    for (const QByteArray& key : smc.writtenKeys()) {
        QVERIFY2(key == "FS! " || (key.startsWith('F') && key.mid(1, 1).toInt() < fans.size()),
                 key.constData());
    }
    // The cache itself is left as it was.
    QCOMPARE(m_pPrefs->getString("Fans"), cachedFans);
    QCOMPARE(m_pPrefs->getString("TempSensors"), cachedSensors);
    for (const QString& warning : warnings) {
        QVERIFY(logHas(warning));
    }
}

void tst_FanControl::ninthFanNeverManual()
{
    QMemorySmcControl smc;
    addMachine(smc, 9);
    for (int i = 0; i < 9; ++i) {
        m_pPrefs->setString(QString("Fan_%1").arg(i), "1,2000");
    }
    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    QCOMPARE(controller.fanCount(), 9);
    QVERIFY(controller.GetFan(8)->IsManual());
    QCOMPARE(smc.value("FS! ").toHex(), QByteArray("00ff"));
    smc.clearWrites();
    controller.SetFanRPM(8, 2400);
    QCOMPARE(writesOf(smc), (QStringList{"FS! =00ff", "F8Tg=2580"}));
    QVERIFY(logHas("fan 8 cannot be put under manual control"));
}

void tst_FanControl::speedWriteReassertsManualBit_data()
{
    QTest::addColumn<QList<int>>("pauses"); // seconds before each write
    QTest::addColumn<QStringList>("writes");

    const QString mask = "FS! =0001";
    const QString target = "F0Tg=2710"; // 2500 RPM
    QTest::newRow("every second: mask once")
        << QList<int>{0, 1, 1, 1} << QStringList{mask, target, target, target, target};
    QTest::newRow("pause of 3 s: mask again")
        << QList<int>{0, 1, 3} << QStringList{mask, target, target, mask, target};
    QTest::newRow("pause of 2 s: not yet")
        << QList<int>{0, 2, 2} << QStringList{mask, target, target, target};
}

void tst_FanControl::speedWriteReassertsManualBit()
{
    QFETCH(QList<int>, pauses);
    QFETCH(QStringList, writes);

    QMemorySmcControl smc;
    addMachine(smc, 1);
    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    smc.clearWrites();
    for (int pause : pauses) {
        m_Clock.advanceSecs(pause);
        controller.SetFanRPM(0, 2500);
    }
    QCOMPARE(writesOf(smc), writes);
    QVERIFY(controller.GetFan(0)->IsManual());
    QCOMPARE(controller.SetFanRPM(1, 2500), -1); // no such fan: nothing written
    QCOMPARE(writesOf(smc), writes);
}

void tst_FanControl::backToAutomaticClearsBitOnly()
{
    QMemorySmcControl smc;
    addMachine(smc);
    m_pPrefs->setString("Fan_1", "1,3000");
    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    QCOMPARE(smc.value("FS! ").toHex(), QByteArray("0002"));
    controller.SetFanRPM(1, 3000);
    smc.clearWrites();
    controller.GetFan(1)->SetControlMode(FanControlMode::automatic());
    QCOMPARE(writesOf(smc), QStringList{"FS! =0000"});
    QVERIFY(logHas("Set fans mode 0"));
}

void tst_FanControl::modesSavedAndKept()
{
    QMemorySmcControl smc;
    addMachine(smc, 3);
    m_pPrefs->setString("Fan_1", "2,TQ0P,40,70"); // sensor not on this machine
    {
        QFanControl controller(&smc, &m_Clock);
        controller.Init();
        controller.GetFan(0)->SetControlMode(FanControlMode::sensor("TG0D", 45, 70));
        controller.GetFan(2)->SetControlMode(FanControlMode::constant(2222));
    }
    QCOMPARE(m_pPrefs->getString("Fan_0"), QString("2,TG0D,45,70"));
    QCOMPARE(m_pPrefs->getString("Fan_1"), QString("2,TQ0P,40,70"));
    QCOMPARE(m_pPrefs->getString("Fan_2"), QString("1,2222"));

    smc.clearWrites();
    QFanControl again(&smc, &m_Clock);
    again.Init();
    QCOMPARE(again.GetFan(0)->GetControlMode().getSensor(), again.sensorByKey("TG0D"));
    QCOMPARE(again.GetFan(2)->GetControlMode().GetConstantRPM(), 2222);
    QCOMPARE(smc.value("FS! ").toHex(), QByteArray("0005"));
}

void tst_FanControl::speedReads_data()
{
    QTest::addColumn<bool>("currentOnly");
    QTest::addColumn<bool>("currentReadable");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<int>("rpmMin");
    QTest::addColumn<int>("rpmMax");

    QTest::newRow("full") << false << true << 1750 << 1100 << 5900;
    QTest::newRow("current only") << true << true << 1750 << 1000 << 6000;
    QTest::newRow("current unreadable") << true << false << 0 << 1000 << 6000;
}

void tst_FanControl::speedReads()
{
    QFETCH(bool, currentOnly);
    QFETCH(bool, currentReadable);
    QFETCH(int, rpm);
    QFETCH(int, rpmMin);
    QFETCH(int, rpmMax);

    QMemorySmcControl smc;
    addMachine(smc, 1);
    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    controller.UpdateFanInfo(0, false);
    QCOMPARE(controller.GetFan(0)->GetRPM(), 1500);
    smc.setFanSpeedKey("F0Ac", 1750);
    smc.setFanSpeedKey("F0Mn", 1100);
    smc.setFanSpeedKey("F0Mx", 5900);
    smc.setUnreadable("F0Ac", !currentReadable);
    controller.UpdateFanInfo(0, currentOnly);
    controller.UpdateFanInfo(5, false); // no such fan: ignored
    QCOMPARE(controller.GetFan(0)->GetRPM(), rpm);
    QCOMPARE(controller.GetFan(0)->GetRPMMin(), rpmMin);
    QCOMPARE(controller.GetFan(0)->GetRPMMax(), rpmMax);
}

void tst_FanControl::readOnlyWritesNothing()
{
    QMemorySmcControl smc;
    addMachine(smc);
    m_pPrefs->setString("Fan_0", "1,2500");
    QCoreServices::setReadOnly(true, "smbfs");
    QFanControl controller(&smc, &m_Clock);
    controller.Init();
    controller.SetFanRPM(0, 2500);
    controller.GetFan(1)->SetControlMode(FanControlMode::constant(2000));
    QVERIFY(smc.writes().isEmpty());
    QCOMPARE(controller.GetFan(0)->GetControlMode().GetConstantRPM(), 2500);
}

QTEST_GUILESS_MAIN(tst_FanControl)
#include "tst_fancontrol.moc"
