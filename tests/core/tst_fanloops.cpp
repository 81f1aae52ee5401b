#include "core/FanControl.h"
#include "core/FanControlLoops.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "smc/QSmcControlMac.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/QMemorySmcControl.h"

#include <QtTest>

#include <cmath>

namespace {
QStringList writesOf(const QMemorySmcControl& smc)
{
    QStringList out;
    for (const QMemorySmcControl::Write& w : smc.writes()) {
        out << QString::fromLatin1(w.key + "=" + w.bytes.toHex());
    }
    return out;
}

// The protocol backend over the simulator, with every write the program makes recorded.
class QRecordingSmc : public QSmcControlMac
{
public:
    using QSmcControlMac::QSmcControlMac;
    int OS_WriteKey(const char* key, const unsigned char* buffer, unsigned char size) override
    {
        m_Writes << QString::fromLatin1(
            QByteArray(key, 4) + "=" +
            QByteArray(reinterpret_cast<const char*>(buffer), size).toHex());
        return QSmcControlMac::OS_WriteKey(key, buffer, size);
    }
    QStringList m_Writes;
};

QSimKey simKey(const QByteArray& key, const QByteArray& type, double value, int size)
{
    QSimKey k{key, type, QByteArray(size, '\0'), 0};
    SimDumpUtils::encodeNumber(type, value, k.bytes);
    return k;
}

// One fan (1000..6000 RPM) cooling a processor that, under full load with the fan at its
// minimum, would settle far above 70 degrees and, at full speed, near 55.
struct SimMachine
{
    SimMachine() : sim(&clock)
    {
        QByteArray id(16, '\0');
        memcpy(id.data() + 4, "CPU", 3);
        QVector<QSimKey> keys = {simKey("FNum", "ui8 ", 1, 1),    {"F0ID", "{fds", id, 0},
                                 simKey("F0Ac", "fpe2", 1200, 2), simKey("F0Mn", "fpe2", 1000, 2),
                                 simKey("F0Mx", "fpe2", 6000, 2), simKey("F0Tg", "fpe2", 1200, 2),
                                 simKey("FS! ", "ui16", 0, 2),    simKey("TA0P", "sp78", 24, 2),
                                 simKey("TC0P", "sp78", 45, 2),   simKey("TG0D", "sp78", 40, 2)};
        QSimDynamicsParams params;
        params.sensors = {{"TC*", {50.0, 10.0}}};
        sim.setKeys(keys, params);
        sim.setLoadOverride(1.0);
        pSmc = new QRecordingSmc(new QSmcTransportInProcess(&sim));
        pSmc->Open();
        pSmc->useDirectWrites();
        pController.reset(new QFanControl(pSmc, &clock));
        pController->Init();
        sensors = pController->sensors();
        // The first update pass reads minimum and maximum before any control pass runs.
        FanControlLoopUtils::runUpdatePass(*pController, sensors, false, false, QString());
    }
    ~SimMachine()
    {
        pController.reset();
        delete pSmc;
    }

    // Runs the window's two workers for the given simulated time with the window hidden:
    // the update pass every 1.5 s, the control pass every second.
    void run(int nSecs, const std::function<void()>& afterEachSecond = {})
    {
        for (int nTick = 0; nTick < nSecs * 2; ++nTick) {
            clock.advanceMsecs(500);
            m_nMsecs += 500;
            if (m_nMsecs % 1500 == 0) {
                FanControlLoopUtils::runUpdatePass(*pController, sensors, true, false, traySensor);
            }
            if (m_nMsecs % 1000 == 0) {
                FanControlLoopUtils::runControlPass(*pController);
                if (afterEachSecond) {
                    afterEachSecond();
                }
            }
        }
    }

    FanInfo* fan() const { return pController->GetFan(0); }
    double followed() const { return pController->sensorByKey("TC0P")->GetValue(); }

    QManualClock clock;
    QSimSmc sim;
    QRecordingSmc* pSmc = nullptr;
    QScopedPointer<QFanControl> pController;
    QVector<QTempSensor*> sensors;
    QString traySensor; // the sensor shown in the menu bar, read even with the window hidden
    qint64 m_nMsecs = 0;
};
} // namespace

class tst_FanLoops : public QObject
{
    Q_OBJECT

private slots:
    void constantFanCommand_data();
    void constantFanCommand();
    void sensorFanCommand_data();
    void sensorFanCommand();
    void hiddenWindowReadsOnlyNeededSensors_data();
    void hiddenWindowReadsOnlyNeededSensors();
    void stopRequestEndsPass();

    void closedLoopSensorBased_data();
    void closedLoopSensorBased();
    void closedLoopConstantHolds();
    void closedLoopBackToAutomatic();
};

void tst_FanLoops::constantFanCommand_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("justChanged");
    QTest::addColumn<bool>("commanded");

    QTest::newRow("30 above: left alone") << 2030 << false << false;
    QTest::newRow("31 above: commanded") << 2031 << false << true;
    QTest::newRow("30 below: left alone") << 1970 << false << false;
    QTest::newRow("31 below: commanded") << 1969 << false << true;
    QTest::newRow("just changed, on target: commanded") << 2000 << true << true;
    QTest::newRow("speed not read yet") << -1 << true << false;
}

void tst_FanLoops::constantFanCommand()
{
    QFETCH(int, current);
    QFETCH(bool, justChanged);
    QFETCH(bool, commanded);

    QMemorySmcControl smc;
    smc.setKey("FNum", "ui8 ", QByteArray(1, '\1'));
    smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
    smc.addFan(0, "CPU", 1000, 1500, 6000);
    QFanControl controller(&smc);
    controller.Init();
    FanInfo* pFan = controller.GetFan(0);
    pFan->SetControlMode(FanControlMode::constant(2000));
    if (!justChanged) {
        pFan->resetControlModeJustChanged();
    }
    pFan->updateRpmValues(current, 1000, 6000);
    smc.clearWrites();

    QVERIFY(FanControlLoopUtils::runControlPass(controller));
    QCOMPARE(writesOf(smc).contains("F0Tg=1f40"), commanded);
    if (current != -1) {
        QVERIFY(!pFan->isControlModeJustChanged());
    }
    // A second pass with nothing changed writes nothing more, unless the fan is still off.
    const int nWrites = smc.writes().size();
    FanControlLoopUtils::runControlPass(controller);
    QCOMPARE(smc.writes().size() > nWrites, std::abs(current - 2000) > 30 && current != -1);
}

void tst_FanLoops::sensorFanCommand_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("target"); // -1: nothing written

    // Fan 1000..6000 RPM at 1500, start 40, max 70: step 166.
    QTest::newRow("never read (0.0)") << 0.0 << -1;
    QTest::newRow("below start: minimum") << 39.4 << 1000;
    QTest::newRow("rounds up to start: climbs from lo") << 39.6 << 1001;
    QTest::newRow("fan below band: lo + 1") << 60.4 << 4155;
    QTest::newRow("above max: maximum") << 71.0 << 6000;
}

void tst_FanLoops::sensorFanCommand()
{
    QFETCH(double, celsius);
    QFETCH(int, target);

    QMemorySmcControl smc;
    smc.setKey("FNum", "ui8 ", QByteArray(1, '\1'));
    smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
    smc.addFan(0, "CPU", 1000, 1500, 6000);
    smc.setTemperature("TC0P", 50.0);
    QManualClock clock;
    QFanControl controller(&smc, &clock);
    controller.Init();
    controller.UpdateFanInfo(0, false);
    controller.GetFan(0)->SetControlMode(FanControlMode::sensor("TC0P", 40, 70));
    controller.sensorByKey("TC0P")->SetValue(celsius);
    smc.clearWrites();

    FanControlLoopUtils::runControlPass(controller);
    QStringList expected;
    if (target != -1) {
        expected << "FS! =0001" << QString("F0Tg=%1").arg(target * 4, 4, 16, QChar('0'));
    }
    QCOMPARE(writesOf(smc), expected);
}

void tst_FanLoops::hiddenWindowReadsOnlyNeededSensors_data()
{
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<QString>("followed"); // sensor of the sensor-based fan, or empty
    QTest::addColumn<QList<int>>("rows");

    QTest::newRow("visible: all") << true << ""
                                  << "" << QList<int>{0, 1, 2, 3};
    QTest::newRow("hidden: nothing needed") << false << ""
                                            << "" << QList<int>{};
    QTest::newRow("hidden: menu-bar sensor") << false << "TC0P"
                                             << "" << QList<int>{2};
    QTest::newRow("hidden: followed sensor") << false << ""
                                             << "TG0D" << QList<int>{3};
    QTest::newRow("hidden: both") << false << "TA0P"
                                  << "TC0P" << QList<int>{0, 2};
}

void tst_FanLoops::hiddenWindowReadsOnlyNeededSensors()
{
    QFETCH(bool, visible);
    QFETCH(QString, traySensor);
    QFETCH(QString, followed);
    QFETCH(QList<int>, rows);

    QMemorySmcControl smc;
    smc.setKey("FNum", "ui8 ", QByteArray(1, '\1'));
    smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
    smc.addFan(0, "CPU", 1000, 1500, 6000);
    for (const char* key : {"TA0P", "TB0T", "TC0P", "TG0D"}) {
        smc.setTemperature(key, 41.5);
    }
    QFanControl controller(&smc);
    controller.Init();
    if (!followed.isEmpty()) {
        controller.GetFan(0)->SetControlMode(FanControlMode::sensor(followed, 40, 70));
    }
    const QVector<QTempSensor*> sensors = controller.sensors();
    QList<int> reported;
    QList<int> fans;
    FanControlLoopUtils::UpdatePassHooks hooks;
    hooks.fanUpdated = [&](int i) { fans << i; };
    hooks.sensorUpdated = [&](int row, double value) {
        reported << row;
        QCOMPARE(value, 41.5);
    };
    QVERIFY(
        FanControlLoopUtils::runUpdatePass(controller, sensors, true, visible, traySensor, hooks));
    QCOMPARE(fans, QList<int>{0});
    QCOMPARE(controller.GetFan(0)->GetRPM(), 1500);
    QCOMPARE(reported, rows);
    for (int j = 0; j < sensors.size(); ++j) {
        QCOMPARE(sensors.at(j)->GetValue() != 0.0, rows.contains(j));
    }
}

void tst_FanLoops::stopRequestEndsPass()
{
    QMemorySmcControl smc;
    smc.setKey("FNum", "ui8 ", QByteArray(1, '\2'));
    smc.setKey("FS! ", "ui16", QByteArray(2, '\0'));
    smc.addFan(0, "CPU", 1000, 1500, 6000);
    smc.addFan(1, "ODD", 1000, 1500, 6000);
    smc.setTemperature("TC0P", 50.0);
    QFanControl controller(&smc);
    controller.Init();
    for (int i = 0; i < 2; ++i) {
        controller.GetFan(i)->SetControlMode(FanControlMode::constant(3000));
        controller.GetFan(i)->updateRpmValues(1500, 1000, 6000);
    }
    smc.clearWrites();
    int nFansReported = 0;
    FanControlLoopUtils::UpdatePassHooks hooks;
    hooks.stopRequested = [] { return true; };
    hooks.fanUpdated = [&](int) { ++nFansReported; };
    QVERIFY(!FanControlLoopUtils::runUpdatePass(controller, controller.sensors(), false, true,
                                                QString(), hooks));
    QCOMPARE(nFansReported, 0);
    QVERIFY(!FanControlLoopUtils::runControlPass(controller, [] { return true; }));
    QCOMPARE(writesOf(smc), (QStringList{"FS! =0003", "F0Tg=2ee0"})); // first fan only
}

void tst_FanLoops::closedLoopSensorBased_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("belowMax");

    QTest::newRow("sensor-based 45..70 keeps it below 70") << "2,TC0P,45,70" << true;
    QTest::newRow("held at minimum it would not") << "1,1000" << false;
}

void tst_FanLoops::closedLoopSensorBased()
{
    QFETCH(QString, mode);
    QFETCH(bool, belowMax);

    SimMachine machine;
    if (!mode.startsWith('2')) {
        machine.traySensor = "TC0P"; // not followed by the fan: read for the menu bar
    }
    machine.fan()->resetSensorControl();
    machine.fan()->SetControlMode(FanControlMode::fromString(mode));
    int nOutOfRange = 0;
    double dHottestLate = 0;
    int nSecond = 0;
    machine.run(40 * 60, [&] {
        ++nSecond;
        const int rpm = machine.fan()->GetRPM();
        if (rpm < 1000 - 30 || rpm > 6000 + 30) {
            ++nOutOfRange;
        }
        if (nSecond > 30 * 60) {
            dHottestLate = std::max(dHottestLate, machine.followed());
        }
    });
    qInfo("%s: hottest in the last 10 minutes %.1f, fan %d RPM, model %.1f", qPrintable(mode),
          dHottestLate, machine.fan()->GetRPM(), machine.sim.temperature("TC0P"));
    QCOMPARE(nOutOfRange, 0);
    QCOMPARE(dHottestLate < 70.0, belowMax);
    QCOMPARE(machine.followed() < 70.0, belowMax);
}

void tst_FanLoops::closedLoopConstantHolds()
{
    SimMachine machine;
    machine.fan()->SetControlMode(FanControlMode::constant(3200));
    machine.run(20); // the fan ramps to its target
    machine.pSmc->m_Writes.clear();
    int nWorst = 0;
    machine.run(10 * 60,
                [&] { nWorst = std::max(nWorst, std::abs(machine.fan()->GetRPM() - 3200)); });
    QVERIFY2(nWorst <= FanControlLoopUtils::kConstantRpmTolerance,
             qPrintable(QString::number(nWorst)));
    QVERIFY2(machine.pSmc->m_Writes.isEmpty(), qPrintable(machine.pSmc->m_Writes.join(' ')));
}

void tst_FanLoops::closedLoopBackToAutomatic()
{
    SimMachine machine;
    machine.fan()->SetControlMode(FanControlMode::constant(4000));
    machine.run(30);
    QVERIFY(std::abs(machine.fan()->GetRPM() - 4000) <= 30);
    QVERIFY(machine.pSmc->m_Writes.contains("F0Tg=3e80"));
    machine.pSmc->m_Writes.clear();

    machine.fan()->SetControlMode(FanControlMode::automatic());
    machine.run(5 * 60);
    QCOMPARE(machine.pSmc->m_Writes, QStringList{"FS! =0000"});
    // The controller regulates the fan again: it leaves the speed the program had set.
    QVERIFY2(std::abs(machine.fan()->GetRPM() - 4000) > 30,
             qPrintable(QString::number(machine.fan()->GetRPM())));
}

QTEST_GUILESS_MAIN(tst_FanLoops)
#include "tst_fanloops.moc"
