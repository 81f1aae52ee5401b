#include "core/FanControl.h"
#include "core/FanControlLoops.h"
#include "core/FanInfo.h"
#include "core/QMySysInfo.h"
#include "core/QTempSensor.h"
#include "core/QTempSensorSmart.h"
#include "core/SensorControl.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "smc/QSmcTransportInProcess.h"
#include "support/QHookClock.h"
#include "support/QLogCapture.h"
#include "support/QMemorySmcControl.h"
#include "support/QSimMachine.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using FanControlLoopUtils::runControlPass;
using FanControlLoopUtils::runUpdatePass;

namespace {
// The in-memory key table, also recording the key of every read.
class QReadLogSmc : public QMemorySmcControl
{
public:
    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override
    {
        reads << QString::fromLatin1(key, 4);
        if (bDead) // the controller's service is gone
            return -1;
        if (nHeldReads > 0 && reads.last() == "F0Md") { // the system still holds the fan
            --nHeldReads;
            buffer[0] = 3;
            return 0;
        }
        if (bMaskForgotten && reads.last() == "FS! ") { // a controller that keeps dropping it
            buffer[0] = buffer[1] = 0;
            return 0;
        }
        return QMemorySmcControl::OS_ReadKey(key, buffer, size);
    }
    QStringList reads;
    bool bMaskForgotten = false;
    bool bDead = false;
    int nHeldReads = 0;
};

// Fan 0 "CPU", the others without a readable name (1000 + 100 * index .. 6000 RPM, at 1500),
// seven supported temperature keys at 45 degrees and one key that is not a temperature.
void addMachine(QMemorySmcControl& smc, int nFans)
{
    smc.setKey("FNum", "ui8 ", QByteArray(1, char(nFans)));
    smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
    for (int i = 0; i < nFans; ++i) {
        smc.addFan(i, i == 0 ? QByteArray("CPU") : QByteArray(), 1000 + i * 100, 1500, 6000);
    }
    for (const char* key : {"TA0P", "TB0T", "TC0D", "TC0P", "TG0D", "Tm0P", "Ts0P"}) {
        smc.setTemperature(key, 45.0);
    }
    smc.setKey("TX9Z", "ui8 ", QByteArray(1, '\0'));
}

template <class T, class F> QStringList mapped(const QVector<T*>& items, F f)
{
    QStringList out;
    for (const T* pItem : items) {
        out << f(pItem);
    }
    return out;
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

QString target(int nFan, int rpm)
{
    return QString("F%1Tg=%2").arg(nFan).arg(rpm * 4, 4, 16, QChar('0'));
}

// The window's two workers on a simulated machine with the window hidden: update every 1.5 s,
// control every 1 s, for nSecs from a whole second.
void runSeconds(QSimMachine& m, int nSecs, const std::function<void()>& afterEachSecond = {})
{
    for (int nHalf = 1; nHalf <= nSecs * 2; ++nHalf) {
        m.clock.advanceMsecs(500);
        if ((m.clock.msecsSinceEpoch() / 500) % 3 == 0) {
            runUpdatePass(*m.pController, m.pController->sensors(), true, false, QString());
        }
        if (nHalf % 2 == 0) {
            runControlPass(*m.pController);
            if (afterEachSecond) {
                afterEachSecond();
            }
        }
    }
}

} // namespace

class tst_FanControl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startOrder_data();
    void startOrder();
    void filterAtStart_data();
    void filterAtStart();
    void modesAtStart_data();
    void modesAtStart();
    void speedWrites_data();
    void speedWrites();
    void userPicksAutomaticDuringControlPass();
    void updatePassReads_data();
    void updatePassReads();
    void driveRowsFollowTheHeading();
    void controlPassCommands_data();
    void controlPassCommands();
    void readOnlyWritesNothing();
    void maskRestoredAfterControllerRestart();
    void failedSensorHandsFanBack_data();
    void failedSensorHandsFanBack();
    void lostControllerBacksOff();
    void fanFamilies_data();
    void fanFamilies();

private:
    QFanControl& start(QSmcControl& smc);
    // The window's workers with the window shown, in steps of 0.5 s: update every 1.5 s, control
    // every 1 s; afterEachStep runs after every step.
    void runVisible(QFanControl& controller, double dSecs,
                    const FanControlLoopUtils::UpdatePassHooks& hooks = {},
                    const std::function<void()>& afterEachStep = {});

    QLogCapture m_Log;
    QScopedPointer<QFanControl> m_pController;
    QScopedPointer<QTemporaryDir> m_pDir;
    QScopedPointer<QPreferences> m_pPrefs;
    QHookClock m_Clock;
};

void tst_FanControl::init()
{
    m_pDir.reset(new QTemporaryDir);
    m_pPrefs.reset(new QPreferences(m_pDir->filePath("thermora.ini")));
    QCoreServices::setPreferences(m_pPrefs.data());
    m_Log.start();
}

void tst_FanControl::cleanup()
{
    m_pController.reset();
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setReadOnly(false);
    m_Clock.onNextRead = nullptr;
}

// A controller over the key table, started; it lives until the end of the test function.
QFanControl& tst_FanControl::start(QSmcControl& smc)
{
    m_pController.reset(new QFanControl(&smc, &m_Clock));
    m_pController->Init();
    return *m_pController;
}

void tst_FanControl::startOrder_data()
{
    QTest::addColumn<QString>("cachedFans"); // empty: fresh start
    QTest::addColumn<QString>("cachedSensors");
    QTest::addColumn<int>("fnum");       // -1: unreadable
    QTest::addColumn<QString>("models"); // "cached>found" model identifiers; empty: none known
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<QStringList>("allSensors");
    QTest::addColumn<QString>("rejected"); // why the cache is not used (Info); empty: it is
    QTest::addColumn<QString>("warning");  // each warning logged, separated by "|"

    const auto add = [](const char* name, const QString& cachedFans, const QString& cachedSensors,
                        int fnum, const char* fans, const char* allSensors,
                        const char* rejected = "", const char* warning = "",
                        const char* models = "") {
        QTest::newRow(name) << cachedFans << cachedSensors << fnum << QString(models)
                            << QString(fans).split(',', Qt::SkipEmptyParts)
                            << QString(allSensors).split(',', Qt::SkipEmptyParts)
                            << QString(rejected) << QString(warning);
    };
    const char* const all = "TA0P,TB0T,TC0D,TC0P,TG0D,Tm0P,Ts0P"; // key order
    add("first start: key order, unnamed fan cached by index", "", "", 2, "CPU,Fan 1", all);
    add("cached start: display-name order, case-sensitive", "Left,Right",
        "Ta1X,Tm0P,TC0P,Ts0P,TB9X,TA0P", 2, "Left,Right", "TA0P,TC0P,Ts0P,Tm0P,TB9X,Ta1X");
    add("cached keys: repeats counted once, blank name by index", "CPU, ",
        QString("TC0P,").repeated(3000) + "TA0P", 2, "CPU,Fan 1", "TA0P,TC0P");
    add("fresh, no fans", "", "", 0, "", all);
    add("fresh, count unreadable", "", "", -1, "", all);
    add("fresh, one more than keys can name", "", "", 11,
        "CPU,Fan 1,Fan 2,Fan 3,Fan 4,Fan 5,Fan 6,Fan 7,Fan 8,Fan 9", all, "",
        "FNum reports 11 fans");
    add("cached, more than the controller has", "CPU,ODD,HDD", "TC0P", 2, "CPU,Fan 1", all,
        "3 cached fans, the controller has 2");
    add("cached, fewer than the controller has", "CPU,ODD", "TC0P", 3, "CPU,Fan 1,Fan 2", all,
        "2 cached fans, the controller has 3");
    add("cached, count unreadable: cache kept", "CPU,ODD", "TC0P", -1, "CPU,ODD", "TC0P", "",
        "FNum cannot be read, keeping the 2");
    add("Fans without TempSensors", "CPU,ODD", "", 2, "CPU,Fan 1", all,
        "\"Fans\" without \"TempSensors\"");
    add("binary bytes in Fans", QString("CPU,OD\x01") + QChar(0xfffd), "TC0P", 2, "CPU,Fan 1", all,
        "unreadable characters");
    add("cached key not an SMC key", "CPU,ODD", "TC0P,,TA0P", 2, "CPU,Fan 1", all,
        "key '' is not an SMC key");
    add("cached for another model", "CPU,ODD", "TC0P", 2, "CPU,Fan 1", all,
        "cached for MacBookPro8,2", "", "MacBookPro8,2>iMac11,1");
    add("same model", "CPU,ODD", "TC0P", 2, "CPU,ODD", "TC0P", "", "", "iMac11,1>iMac11,1");
}

void tst_FanControl::startOrder()
{
    QFETCH(QString, cachedFans);
    QFETCH(QString, cachedSensors);
    QFETCH(int, fnum);
    QFETCH(QString, models);
    QFETCH(QStringList, fans);
    QFETCH(QStringList, allSensors);
    QFETCH(QString, rejected);
    QFETCH(QString, warning);

    QReadLogSmc smc;
    addMachine(smc, qBound(0, fnum, 9));
    smc.setKey("FNum", "ui8 ", QByteArray(1, char(qMax(fnum, 0))));
    smc.setUnreadable("FNum", fnum < 0);
    m_pPrefs->setString("Fans", cachedFans);
    m_pPrefs->setString("TempSensors", cachedSensors);
    m_pPrefs->setString("Machine", models.section('>', 0, 0));
    QMySysInfo sysInfo([&] { return models.section('>', 1); });
    if (!models.isEmpty()) {
        QCoreServices::setSysInfo(&sysInfo);
    }
    auto unregister = qScopeGuard([] { QCoreServices::setSysInfo(nullptr); });
    QFanControl& controller = start(smc);
    QCOMPARE(mapped(controller.fans(), [](const FanInfo* p) { return p->GetName(); }), fans);
    QVERIFY(!controller.GetFan(fans.size()) && !controller.GetFan(-1));
    QCOMPARE(mapped(controller.allSensors(), [](const QTempSensor* p) { return p->GetKey(); }),
             allSensors);
    const bool bFresh = cachedFans.isEmpty() || !rejected.isEmpty();
    QCOMPARE(smc.indexCalls() > 0, bFresh); // the key index is walked on a fresh start only
    QCOMPARE(smc.reads.count("FNum"), 1);
    // What a fresh start found replaces the cache; a usable cache is not rewritten.
    QCOMPARE(m_pPrefs->getString("Fans"), bFresh ? fans.join(',') : cachedFans);
    QCOMPARE(m_pPrefs->getString("TempSensors"), bFresh ? allSensors.join(',') : cachedSensors);
    QCOMPARE(m_Log.count("INFO", "QFanControl::Init - first start"), bFresh ? 1 : 0);
    QCOMPARE(m_Log.count("INFO", "do not fit this machine"), rejected.isEmpty() ? 0 : 1);
    QVERIFY(rejected.isEmpty() || m_Log.count("INFO", rejected) == 1);
    QCOMPARE(m_pPrefs->getString("Machine"), models.section('>', 1));
    QCOMPARE(m_Log.count("INFO", "number of supported SMART sensors: 0"), 1);
    const QStringList warnings = warning.split('|', Qt::SkipEmptyParts);
    QCOMPARE(m_Log.count("WARN", ""), warnings.size()); // nothing else is worth a warning
    for (const QString& text : warnings) {
        QVERIFY2(m_Log.count("WARN", text) == 1, qPrintable(text));
    }
}

void tst_FanControl::filterAtStart_data()
{
    QTest::addColumn<double>("celsius"); // negative: the key cannot be read
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("warning");

    QTest::newRow("0.0 is no reading") << 0.0 << false << "skipping sensor TC0P with value of 0";
    QTest::newRow("127.9 shown") << 127.9 << true << "";
    QTest::newRow("128.0 out of range") << 128.0 << false << "smc_get_temp - skipping sensor TC0P";
    QTest::newRow("unreadable") << -1.0 << false << "skipping sensor TC0P with value of -1";
}

void tst_FanControl::filterAtStart()
{
    QFETCH(double, celsius);
    QFETCH(bool, shown);
    QFETCH(QString, warning);

    QReadLogSmc smc;
    addMachine(smc, 1);
    smc.setTemperature("TZ9Z", 0.0); // not in the sensor table: never read, never warned
    smc.setTemperature("TC0P", qMax(celsius, 0.0));
    smc.setUnreadable("TC0P", celsius < 0);
    QFanControl& controller = start(smc);
    QCOMPARE(controller.sensorByKey("TC0P") != nullptr, shown);
    QVERIFY(controller.allSensors().size() == 8); // the skipped one is tried again next start
    QVERIFY(controller.sensorByKey("TA0P") && !controller.sensorByKey("TZ9Z"));
    QVERIFY(!smc.reads.contains("TZ9Z"));
    QCOMPARE(m_Log.count("WARN", shown ? "TC0P" : warning), shown ? 0 : 1);
}

void tst_FanControl::modesAtStart_data()
{
    QTest::addColumn<int>("maskByte"); // -1: "FS! " cannot be read
    QTest::addColumn<QString>("stored0");
    QTest::addColumn<QString>("modes"); // "<mode 0>|<mode 1>", a trailing M for a manual fan
    QTest::addColumn<QStringList>("maskWrites"); // values written to "FS! "
    QTest::addColumn<QString>("warning");

    const auto add = [](const char* name, int mask, const char* stored, const char* modes,
                        const char* writes, const char* warning = "") {
        QTest::newRow(name) << mask << QString(stored) << QString(modes)
                            << QString(writes).split(' ', Qt::SkipEmptyParts) << QString(warning);
    };
    add("mask 0x02, nothing stored", 0x02, "", "0|M", "0002");
    add("mask unreadable: all automatic", -1, "", "0|0", "0000 0000", "cannot read the fan");
    add("stored constant", 0, "1,2500", "1,2500M|0", "0001 0001");
    add("stored sensor mode", 0, "2,TC0P,45,80", "2,TC0P,45,80M|0", "0001 0001");
    add("stored sensor gone: bit cleared", 0x01, "2,TQ0P,45,80", "|0", "0000 0000",
        "sensor TQ0P of the stored mode is not available");
    add("stored sensor read 0: bit cleared", 0x03, "2,TB0T,45,80", "|M", "0002",
        "sensor TB0T of the stored mode is not available");
    add("stored garbage", 0x03, "zzz", "0|M", "0002", "stored mode 'zzz'");
    add("stored 1 without speed", 0, "1x", "0|0", "0000 0000", "mode '1x'");
    add("stored speed not a number", 0, "1,abc", "0|0", "0000 0000", "'1,abc' is not");
}

void tst_FanControl::modesAtStart()
{
    QFETCH(int, maskByte);
    QFETCH(QString, stored0);
    QFETCH(QString, modes);
    QFETCH(QStringList, maskWrites);
    QFETCH(QString, warning);

    QReadLogSmc smc;
    addMachine(smc, 2);
    smc.setTemperature("TB0T", 0.0);
    smc.setKey("FS! ", "ui16", QMemorySmcControl::twoBytes(0, qMax(maskByte, 0)));
    smc.setUnreadable("FS! ", maskByte < 0);
    if (!stored0.isEmpty()) {
        m_pPrefs->setString("Fan_0", stored0);
    }
    QFanControl& controller = start(smc);
    QCOMPARE(mapped(controller.fans(),
                    [](const FanInfo* p) {
                        return p->GetControlMode().toString() + (p->IsManual() ? "M" : "");
                    })
                 .join('|'),
             modes);
    QCOMPARE(writesOf(smc).replaceInStrings("FS! =", ""), maskWrites);
    const FanControlMode mode0 = controller.GetFan(0)->GetControlMode();
    QCOMPARE(mode0.getSensor(), mode0.GetMode() == 2 ? controller.sensorByKey("TC0P") : nullptr);
    QCOMPARE(m_Log.count("WARN", "LoadFansControlMode") + m_Log.count("WARN", "fan mode mask"),
             warning.isEmpty() ? 0 : 1);
    QVERIFY(warning.isEmpty() || m_Log.count("WARN", warning) == 1);
    m_pController.reset(); // saves every mode
    // A mode that could not be applied keeps its stored text for a later start.
    const QString text0 = modes.section('|', 0, 0).remove('M');
    QCOMPARE(m_pPrefs->getString("Fan_0"), text0.isEmpty() ? stored0 : text0);
}

void tst_FanControl::speedWrites_data()
{
    QTest::addColumn<QList<int>>("pauses");    // seconds before each write
    QTest::addColumn<int>("lostBefore");       // write before which the controller forgets the mask
    QTest::addColumn<bool>("keepsForgetting"); // and keeps forgetting it
    QTest::addColumn<QStringList>("writes");

    const QString m = "FS! =0001";
    const QString t = target(0, 2500);
    QTest::newRow("every second: mask once")
        << QList<int>{0, 1, 1, 1} << -1 << false << QStringList{m, t, t, t, t};
    QTest::newRow("pause of 3 s: mask again")
        << QList<int>{0, 1, 3} << -1 << false << QStringList{m, t, t, m, t};
    QTest::newRow("pause of 2 s: not yet")
        << QList<int>{0, 2, 2} << -1 << false << QStringList{m, t, t, t};
    QTest::newRow("mask forgotten: set again at the next check")
        << QList<int>{0, 1, 1, 1, 1} << 2 << false << QStringList{m, t, t, t, m, t, t};
    QTest::newRow("mask keeps being forgotten: set every 3 s, warned once")
        << QList<int>{0, 1, 1, 1, 1, 1, 1} << 1 << true
        << QStringList{m, t, t, t, m, t, t, t, m, t};
}

void tst_FanControl::speedWrites()
{
    QFETCH(QList<int>, pauses);
    QFETCH(int, lostBefore);
    QFETCH(bool, keepsForgetting);
    QFETCH(QStringList, writes);

    QReadLogSmc smc;
    addMachine(smc, 1);
    m_pPrefs->setString("Fan_0", "1,2500");
    QFanControl& controller = start(smc);
    smc.clearWrites();
    for (int i = 0; i < pauses.size(); ++i) {
        m_Clock.advanceSecs(pauses.at(i));
        if (i == lostBefore) {
            smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
            smc.bMaskForgotten = keepsForgetting;
        }
        QCOMPARE(controller.SetFanRPM(0, 2500), 0);
    }
    QCOMPARE(writesOf(smc), writes);
    QCOMPARE(m_Log.count("WARN", "fan 0 lost its manual bit"), lostBefore >= 0 ? 1 : 0);
    QCOMPARE(controller.SetFanRPM(1, 2500), -1); // no such fan: nothing written
    QCOMPARE(writesOf(smc), writes);
}

// The control pass copies a sensor-based fan's mode, then the user hands the fan back to the
// system before the pass writes: the fan must stay automatic.
void tst_FanControl::userPicksAutomaticDuringControlPass()
{
    QReadLogSmc smc;
    addMachine(smc, 1);
    m_pPrefs->setString("Fan_0", "2,TC0P,40,70");
    QFanControl& controller = start(smc);
    controller.UpdateFanInfo(0, false);
    controller.UpdateTempSensor(controller.sensorByKey("TC0P"));
    FanInfo* pFan = controller.GetFan(0);
    smc.clearWrites();
    m_Clock.onNextRead = [pFan] { pFan->SetControlMode(FanControlMode::automatic()); };
    runControlPass(controller);
    QCOMPARE(writesOf(smc), QStringList{"FS! =0000"});
    QVERIFY(!pFan->IsManual());
}

void tst_FanControl::updatePassReads_data()
{
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("currentOnly");
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<QString>("followed"); // sensor of the sensor-based fan, or empty
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<int>("stopAt"); // the stop request that answers true; 0: none

    const auto add = [](const char* name, bool visible, bool currentOnly, const char* tray,
                        const char* followed, const char* reads, int stopAt = 0) {
        QTest::newRow(name) << visible << currentOnly << QString(tray) << QString(followed)
                            << QString(reads).split(' ') << stopAt;
    };
    add("visible: all", true, true, "", "", "F0Ac F1Ac TA0P TB0T TC0D TC0P TG0D Tm0P Ts0P");
    add("hidden: nothing needed", false, true, "", "", "F0Ac F1Ac");
    add("hidden, full: limits too", false, false, "", "", "F0Ac F0Mn F0Mx F1Ac F1Mn F1Mx");
    add("hidden: menu-bar sensor", false, true, "TC0P", "", "F0Ac F1Ac TC0P");
    add("hidden: followed sensor", false, true, "", "TG0D", "F0Ac F1Ac TG0D");
    add("stopped after the first fan", true, true, "", "", "F0Ac", 1);
    add("stopped after the first sensor", true, true, "", "", "F0Ac F1Ac TA0P", 3);
}

// An update pass reads the fans' current speeds (limits only when asked) and the sensors needed.
void tst_FanControl::updatePassReads()
{
    QFETCH(bool, visible);
    QFETCH(bool, currentOnly);
    QFETCH(QString, traySensor);
    QFETCH(QString, followed);
    QFETCH(QStringList, reads);
    QFETCH(int, stopAt);

    QReadLogSmc smc;
    addMachine(smc, 2);
    QFanControl& controller = start(smc);
    if (!followed.isEmpty()) {
        controller.GetFan(1)->SetControlMode(FanControlMode::sensor(followed, 40, 70));
    }
    smc.setTemperature("TG0D", 41.5);
    smc.setFanSpeedKey("F1Ac", 1750);
    smc.setFanSpeedKey("F1Mn", 1150);
    QStringList reported; // what the window is told: fan indexes, then sensor rows
    FanControlLoopUtils::UpdatePassHooks hooks;
    int nStopChecks = 0;
    hooks.stopRequested = [&] { return ++nStopChecks == stopAt; };
    hooks.fanUpdated = [&](int i) { reported << QString::number(i); };
    hooks.sensorUpdated = [&](int row, double value) {
        reported << QString("%1=%2").arg(row).arg(value);
    };
    smc.reads.clear();
    QCOMPARE(
        runUpdatePass(controller, controller.sensors(), currentOnly, visible, traySensor, hooks),
        stopAt == 0);
    QCOMPARE(smc.reads, reads);
    if (stopAt != 0) {
        QCOMPARE(reported, QStringList({"0", "1"}).mid(0, stopAt - 1)); // nothing after the stop
        return;
    }
    const QStringList rows{"TA0P", "TB0T", "TC0D", "TC0P", "TG0D", "Tm0P", "Ts0P"};
    QStringList expected{"0", "1"};
    for (const QString& key : reads.filter(QRegularExpression("^T"))) {
        expected << QString("%1=%2").arg(rows.indexOf(key)).arg(key == "TG0D" ? 41.5 : 45);
    }
    QCOMPARE(reported, expected);
    QCOMPARE(controller.GetFan(1)->GetRPM(), 1750);
    QCOMPARE(controller.GetFan(1)->GetRPMMin(), currentOnly ? 0 : 1150);
}

// The window lists drives under a heading row of their own: a drive's whole degrees go to the
// row after its place in the sensor list.
void tst_FanControl::driveRowsFollowTheHeading()
{
    QReadLogSmc smc;
    addMachine(smc, 1);
    QFanControl& controller = start(smc);
    QTempSensorSmart drive(0);
    DriveDataUtils::_DRIVEATTRIBUTE record{};
    record.bRawValue[0] = 37;
    drive.readSmartTemperatures(&record);
    QVector<QTempSensor*> sensors = controller.sensors();
    sensors << &drive;
    QList<QPair<int, double>> reported;
    FanControlLoopUtils::UpdatePassHooks hooks;
    hooks.sensorUpdated = [&](int row, double value) { reported << qMakePair(row, value); };
    QVERIFY(runUpdatePass(controller, sensors, false, true, QString(), hooks));
    QCOMPARE(reported.size(), sensors.size());
    QCOMPARE(reported.first().first, 0);
    QCOMPARE(reported.last(), qMakePair(int(sensors.size()), 37.0));
}

void tst_FanControl::controlPassCommands_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("current");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("justChanged");
    QTest::addColumn<int>("commanded"); // -1: nothing written

    // Fan 1000..6000 RPM; sensor-based rows: start 40, max 70, step 166, fan at 1500.
    const QString c = "1,2000";
    const QString s = "2,TC0P,40,70";
    QTest::newRow("30 above: left alone") << c << 2030 << 45.0 << false << -1;
    QTest::newRow("31 above: commanded") << c << 2031 << 45.0 << false << 2000;
    QTest::newRow("31 below: commanded") << c << 1969 << 45.0 << false << 2000;
    QTest::newRow("just changed, on target: commanded") << c << 2000 << 45.0 << true << 2000;
    QTest::newRow("speed not read yet") << c << -1 << 45.0 << true << -1;
    QTest::newRow("above the maximum, at maximum") << "1,16383" << 6000 << 45.0 << false << -1;
    QTest::newRow("above the maximum: to it") << "1,16383" << 3000 << 45.0 << false << 6000;
    QTest::newRow("below the minimum: to it") << "1,100" << 1500 << 45.0 << false << 1000;
    QTest::newRow("sensor never read (0.0)") << s << 1500 << 0.0 << false << -1;
    QTest::newRow("below start: minimum") << s << 1500 << 39.4 << false << 1000;
    QTest::newRow("rounds up to start: climbs from lo") << s << 1500 << 39.5 << false << 1001;
    QTest::newRow("fan below band: lo + 1") << s << 1500 << 60.4 << false << 4155;
    QTest::newRow("above max: maximum") << s << 1500 << 71.0 << false << 6000;
    QTest::newRow("automatic writes nothing") << "0" << 3000 << 71.0 << true << -1;
}

void tst_FanControl::controlPassCommands()
{
    QFETCH(QString, mode);
    QFETCH(int, current);
    QFETCH(double, celsius);
    QFETCH(bool, justChanged);
    QFETCH(int, commanded);

    QReadLogSmc smc;
    addMachine(smc, 1);
    QFanControl& controller = start(smc);
    FanInfo* pFan = controller.GetFan(0);
    pFan->SetControlMode(FanControlMode::fromString(mode));
    if (!justChanged) {
        pFan->resetControlModeJustChanged();
    }
    pFan->updateRpmValues(current, 1000, 6000);
    controller.sensorByKey("TC0P")->SetValue(celsius);
    smc.clearWrites();

    QVERIFY(runControlPass(controller));
    const QStringList expected =
        commanded < 0 ? QStringList() : QStringList{"FS! =0001", target(0, commanded)};
    QCOMPARE(writesOf(smc), expected);
    QCOMPARE(pFan->isControlModeJustChanged(), justChanged && (current == -1 || mode == "0"));
}

void tst_FanControl::readOnlyWritesNothing()
{
    QReadLogSmc smc;
    addMachine(smc, 1);
    m_pPrefs->setString("Fan_0", "1,2500");
    QCoreServices::setReadOnly(true, "smbfs");
    QFanControl& controller = start(smc);
    controller.GetFan(0)->updateRpmValues(1500, 1000, 6000);
    QVERIFY(runControlPass(controller));
    controller.SetFanRPM(0, 2500);
    QCOMPARE(writesOf(smc), QStringList());
    QCOMPARE(controller.GetFan(0)->GetControlMode().GetConstantRPM(), 2500);
}

// The controller restarts (as after a wake from sleep) while the program is commanding a fan
// every second: the fan is taken back within a few seconds, with one warning.
void tst_FanControl::maskRestoredAfterControllerRestart()
{
    using namespace SimMachineUtils;
    QVector<QSimKey> keys = fanKeys(0, "CPU", 1200, 1000, 6000);
    keys << numberKey("FNum", "ui8 ", 1, 1) << numberKey("FS! ", "ui16", 0, 2);
    QSimMachine m(keys);
    m.start();
    const auto maskOf = [](QSimSmc& sim) {
        QByteArray bytes;
        return sim.value("FS! ", bytes) ? bytes.toHex() : QByteArray();
    };
    m.pController->GetFan(0)->SetControlMode(FanControlMode::constant(4000));
    runSeconds(m, 3); // ramping up from 1200 RPM: a write every second
    QVERIFY(std::abs(m.pController->GetFan(0)->GetRPM() - 4000) > 30);
    m.sim.setKeys(keys); // every key back to its first value, mask 0
    int nSecondsWithout = 0;
    runSeconds(m, 8, [&] { nSecondsWithout += maskOf(m.sim) != "0001"; });
    QVERIFY2(nSecondsWithout <= 3, qPrintable(QString::number(nSecondsWithout)));
    runSeconds(m, 30);
    QCOMPARE(maskOf(m.sim), QByteArray("0001"));
    QVERIFY(std::abs(m.pController->GetFan(0)->GetRPM() - 4000) <= 30);
    QCOMPARE(m_Log.count("WARN", "fan 0 lost its manual bit"), 1);
}

void tst_FanControl::runVisible(QFanControl& controller, double dSecs,
                                const FanControlLoopUtils::UpdatePassHooks& hooks,
                                const std::function<void()>& afterEachStep)
{
    for (int nStep = 0; nStep < qRound(dSecs * 2); ++nStep) {
        m_Clock.advanceMsecs(500);
        const qint64 now = m_Clock.msecsSinceEpoch();
        if (now % 1500 == 0) {
            runUpdatePass(controller, controller.sensors(), true, true, QString(), hooks);
        }
        if (now % 1000 == 0) {
            runControlPass(controller);
        }
        if (afterEachStep) {
            afterEachStep();
        }
    }
}

void tst_FanControl::failedSensorHandsFanBack_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<double>("faultSecs");
    QTest::addColumn<bool>("handedBack");
    QTest::newRow("unreadable for 12 s") << "unreadable" << 12.0 << true;
    QTest::newRow("reads 0.0 for 12 s") << "zero" << 12.0 << true;
    QTest::newRow("reads 130 C for 12 s") << "hot" << 12.0 << true;
    QTest::newRow("unreadable for 4.5 s: kept") << "unreadable" << 4.5 << false;
}

// A fan following a sensor that gives no valid reading for 5 s is handed back to the system
// within 3 s more, keeps its stored mode, and follows the sensor again after 5 s of good
// readings; the sensor's row shows no number meanwhile.
void tst_FanControl::failedSensorHandsFanBack()
{
    QFETCH(QString, fault);
    QFETCH(double, faultSecs);
    QFETCH(bool, handedBack);

    QReadLogSmc smc;
    addMachine(smc, 2);
    smc.setTemperature("TC0P", 60.0);
    m_pPrefs->setString("Fan_0", "2,TC0P,40,70");
    m_Clock.setMsecsSinceEpoch(1767225600000LL);
    QFanControl& controller = start(smc);
    const auto setFault = [&](bool bOn) {
        smc.setUnreadable("TC0P", bOn && fault == "unreadable");
        smc.setTemperature("TC0P", bOn && fault == "zero" ? 0.0 : bOn && fault == "hot" ? 130 : 60);
    };
    runUpdatePass(controller, controller.sensors(), false, true, QString());
    runVisible(controller, 3);
    QVERIFY(writesOf(smc).contains(target(0, 4155)));
    const qint64 nLastGood = m_Clock.msecsSinceEpoch();
    smc.clearWrites();
    setFault(true);
    double dHandBack = -1;
    int nNaNRows = 0;
    FanControlLoopUtils::UpdatePassHooks hooks;
    hooks.sensorUpdated = [&](int row, double value) { nNaNRows += row == 3 && std::isnan(value); };
    FanInfo* pFan = controller.GetFan(0);
    const auto watch = [&] {
        if (dHandBack < 0 && smc.value("FS! ") == QByteArray(2, '\0'))
            dHandBack = (m_Clock.msecsSinceEpoch() - nLastGood) / 1000.0;
    };
    runVisible(controller, faultSecs, hooks, watch);
    QCOMPARE(dHandBack >= 0, handedBack);
    QCOMPARE(nNaNRows > 0, handedBack);
    QCOMPARE(controller.sensorByKey("TC0P")->GetValue(), 60.0); // the last valid reading
    if (!handedBack) {
        QVERIFY(writesOf(smc).last().startsWith("F0Tg")); // still driven from it
        QCOMPARE(m_Log.count("WARN", "handed back"), 0);
        return;
    }
    QCOMPARE(dHandBack, 6.0); // failed at the pass 6 s after the last good one: handed back
    QVERIFY(!writesOf(smc).mid(writesOf(smc).indexOf("FS! =0000")).join(' ').contains("F0Tg"));
    QCOMPARE(pFan->heldBackFor(), QString("CPU Proximity"));
    QCOMPARE(controller.sensorByKey("TC0P")->failedSinceMsecs(), nLastGood);
    controller.saveFansControlMode();
    QCOMPARE(m_pPrefs->getString("Fan_0"), QString("2,TC0P,40,70"));
    QCOMPARE(m_Log.count("WARN", "handed back"), 1);

    setFault(false);
    smc.clearWrites();
    runVisible(controller, 6); // good readings from 1.5 s to 6 s: not yet trusted
    QCOMPARE(pFan->heldBackFor(), QString("CPU Proximity"));
    QCOMPARE(writesOf(smc), QStringList());
    runVisible(controller, 2); // trusted at 7.5 s, followed from the next control pass
    QVERIFY(pFan->heldBackFor().isEmpty());
    QCOMPARE(m_Log.count("INFO", "reads again"), 1);
    QCOMPARE(writesOf(smc).mid(0, 2), QStringList({"FS! =0001", target(0, 4155)}));
}

// A controller that stops answering: one pass finds it, the window is told, nothing is written,
// one read tries it after 1, 2, 4 ... at most 30 s; once it answers the modes are applied again.
void tst_FanControl::lostControllerBacksOff()
{
    QReadLogSmc smc;
    addMachine(smc, 1);
    m_pPrefs->setString("Fan_0", "1,1500"); // where the fan runs: written once, at start
    m_Clock.setMsecsSinceEpoch(1767225600000LL);
    QFanControl& controller = start(smc);
    int nLinkChanges = 0;
    int nNaNRows = 0;
    FanControlLoopUtils::UpdatePassHooks hooks;
    hooks.smcLinkChanged = [&] { ++nLinkChanges; };
    hooks.sensorUpdated = [&](int, double value) { nNaNRows += std::isnan(value); };
    runUpdatePass(controller, controller.sensors(), false, true, QString());
    runVisible(controller, 1.5, hooks);
    QVERIFY(!controller.isSmcLost());
    smc.bDead = true;
    smc.clearWrites();
    const qint64 nDead = m_Clock.msecsSinceEpoch();
    QList<double> attempts; // seconds after the controller died that a pass read something
    int nReads = 0;
    const auto note = [&] {
        if (smc.reads.size() != nReads)
            attempts << (m_Clock.msecsSinceEpoch() - nDead) / 1000.0;
        nReads = smc.reads.size();
    };
    nReads = smc.reads.size();
    runVisible(controller, 100, hooks, note);
    QVERIFY(controller.isSmcLost());
    QCOMPARE(controller.smcLostSinceMsecs(), nDead + 1500);
    QCOMPARE(nLinkChanges, 1);
    QCOMPARE(attempts, QList<double>({1.5, 3, 6, 10.5, 19.5, 36, 66, 96}));
    QCOMPARE(nNaNRows, 7 * 66); // every sensor row of every pass
    QCOMPARE(writesOf(smc), QStringList());
    QCOMPARE(m_Log.count("WARN", "SMC not responding"), 1);

    smc.bDead = false;
    runVisible(controller, 30, hooks);
    QVERIFY(!controller.isSmcLost());
    QCOMPARE(nLinkChanges, 2);
    QCOMPARE(writesOf(smc), QStringList({"FS! =0001", target(0, 1500)}));
}

void tst_FanControl::fanFamilies_data()
{
    QTest::addColumn<QString>("family");        // the keys that select it
    QTest::addColumn<int>("holdTries");         // unlock: mode-key reads of 3 before it takes
    QTest::addColumn<QStringList>("taken");     // writes: constant 2000 on fan 0, control pass
    QTest::addColumn<QStringList>("givenBack"); // writes: fan 0 back to automatic
    const QString flt2000 = "F0Tg=0000fa44";
    const QStringList modeKeys{"F0Md=01", "F1Md=00"};
    const QStringList unlocked = QStringList{"Ftst=01"} + modeKeys;
    const QStringList back{"F0Md=00", "F1Md=00", "Ftst=00"};
    QTest::newRow("mask") << "FS! " << 0 << QStringList{"FS! =0001", "FS! =0001", target(0, 2000)}
                          << QStringList{"FS! =0000"};
    QTest::newRow("mask and mode keys: the mode keys") // a T2 machine that also has "FS! "
        << "FS! ,Md" << 0 << modeKeys + modeKeys + QStringList{flt2000}
        << QStringList(back.mid(0, 2));
    QTest::newRow("unlock, taken at once")
        << "Md,Ftst" << 0 << unlocked + unlocked + QStringList{flt2000} << back;
    QTest::newRow("unlock, held for three tries")
        << "Md,Ftst" << 3
        << unlocked + unlocked + QStringList{"F0Md=01", "F0Md=01", "F0Md=01", flt2000} << back;
    QStringList retries; // given up after 10 s of tries every 100 ms
    for (int i = 0; i < 100; ++i)
        retries << "F0Md=01";
    QTest::newRow("unlock, never taken")
        << "Md,Ftst" << 100000 << unlocked + unlocked + retries + QStringList{flt2000} << back;
}

// How each machine family takes a fan and hands it back, with values in the keys' own types:
// "flt " fan speeds, "ui8 " mode keys, and on Apple silicon the unlock first and a mode key that
// reads 3 while the system holds the fan (tried every 100 ms, for at most 10 s).
void tst_FanControl::fanFamilies()
{
    QFETCH(QString, family);
    QFETCH(int, holdTries);
    QFETCH(QStringList, taken);
    QFETCH(QStringList, givenBack);

    QReadLogSmc smc;
    addMachine(smc, 2);
    if (family != "FS! ") {
        for (const char* key : {"F0Ac", "F0Mn", "F0Mx", "F0Tg", "F1Ac", "F1Mn", "F1Mx", "F1Tg"})
            smc.setNumber(key, "flt ", smc.value(key).isEmpty() ? 0 : 1500, 4);
        smc.setNumber("F0Mn", "flt ", 1836.5, 4);
        smc.setNumber("F0Md", "ui8 ", 0, 1);
        smc.setNumber("F1Md", "ui8 ", 0, 1);
        if (!family.contains("FS! "))
            smc.removeKey("FS! ");
        if (family.contains("Ftst"))
            smc.setNumber("Ftst", "ui8 ", 0, 1);
    }
    QFanControl& controller = start(smc);
    int nTries = 0;
    controller.setSleep([&](int nMsecs) {
        m_Clock.advanceMsecs(nMsecs);
        ++nTries;
    });
    runUpdatePass(controller, controller.sensors(), false, true, QString());
    QCOMPARE(controller.GetFan(0)->GetRPMMin(), family == "FS! " ? 1000 : 1836);
    smc.clearWrites();
    controller.GetFan(0)->SetControlMode(FanControlMode::constant(2000));
    smc.nHeldReads = holdTries;
    m_Clock.advanceSecs(5);
    runControlPass(controller);
    QCOMPARE(writesOf(smc), taken);
    QCOMPARE(nTries, qMin(holdTries, 100));
    QCOMPARE(m_Log.count("WARN", "still holds it"), holdTries > 100 ? 1 : 0);

    smc.clearWrites();
    controller.GetFan(0)->SetControlMode(FanControlMode::automatic());
    QCOMPARE(writesOf(smc), givenBack);
}

QTEST_GUILESS_MAIN(tst_FanControl)
#include "tst_fancontrol.moc"
