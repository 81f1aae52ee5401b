#include "core/FanInfo.h"
#include "core/SensorControl.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "support/QMemoryLogDestination.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {
// A fan with known limits and speed, its controller on a manual clock.
struct Rig
{
    Rig(int rpmMin, int rpmMax, int start, int max, int rpm)
    {
        QCoreServices::setClock(&clock);
        pFan.reset(new FanInfo(nullptr, QStringLiteral("CPU")));
        pFan->SetControlMode(FanControlMode::sensor(QStringLiteral("TC0P"), start, max));
        pFan->updateRpmValues(rpm, rpmMin, rpmMax);
    }
    ~Rig() { QCoreServices::setClock(nullptr); }

    // Runs a script of "seconds:temperature" readings (",n" suffix: n times; "R": reset) and
    // returns the controller's answers, space separated.
    QString run(const QString& script)
    {
        QStringList answers;
        for (const QString& token : script.split(' ', Qt::SkipEmptyParts)) {
            if (token == "R") {
                pFan->resetSensorControl();
                continue;
            }
            const QStringList timesAndCount = token.split('*');
            const QStringList parts = timesAndCount.at(0).split(':');
            const int count = timesAndCount.size() > 1 ? timesAndCount.at(1).toInt() : 1;
            for (int i = 0; i < count; ++i) {
                clock.advanceSecs(parts.at(0).toDouble());
                answers << QString::number(pFan->updateSensorControl(parts.at(1).toInt()));
            }
        }
        return answers.join(' ');
    }
    const SensorBasedControl& control() const { return *pFan->sensorControl(); }

    QManualClock clock;
    QScopedPointer<FanInfo> pFan;
};

QString expand(const QString& expected)
{
    QStringList out;
    for (const QString& token : expected.split(' ', Qt::SkipEmptyParts)) {
        const QStringList valueAndCount = token.split('*');
        const int count = valueAndCount.size() > 1 ? valueAndCount.at(1).toInt() : 1;
        for (int i = 0; i < count; ++i) {
            out << valueAndCount.at(0);
        }
    }
    return out.join(' ');
}
} // namespace

class tst_SensorControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void band_data();
    void band();
    void scenario_data();
    void scenario();
    void tendencyAfterScenario_data();
    void tendencyAfterScenario();
    void logLines_data();
    void logLines();
    void maxNotAboveStartStaysInRange_data();
    void maxNotAboveStartStaysInRange();
    void resetWhileUpdating();

private:
    QSharedPointer<QMemoryLogDestination> m_pLog;
};

void tst_SensorControl::initTestCase()
{
    m_pLog.reset(new QMemoryLogDestination);
    QsLogging::Logger::instance().addDestination(m_pLog);
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::InfoLevel);
}

void tst_SensorControl::band_data()
{
    QTest::addColumn<int>("rpmMin");
    QTest::addColumn<int>("rpmMax");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("temperature");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("mid");

    QTest::newRow("middle") << 2000 << 6000 << 50 << 80 << 60 << 133 << 3197 << 3330 << 65;
    QTest::newRow("at start") << 2000 << 6000 << 50 << 80 << 50 << 133 << 2000 << 2133 << 65;
    QTest::newRow("start + 1") << 2000 << 6000 << 50 << 80 << 51 << 133 << 2000 << 2133 << 65;
    QTest::newRow("at max") << 2000 << 6000 << 50 << 80 << 80 << 133 << 5857 << 5990 << 65;
    QTest::newRow("far above max") << 2000 << 6000 << 50 << 80 << 120 << 133 << 5867 << 6000 << 65;
    QTest::newRow("collapsed") << 2000 << 2000 << 50 << 80 << 60 << 0 << 2000 << 2000 << 65;
    QTest::newRow("max equals start")
        << 2000 << 6000 << 50 << 50 << 50 << 4000 << 2000 << 6000 << 50;
    QTest::newRow("max below start")
        << 2000 << 6000 << 50 << 30 << 50 << 4000 << 2000 << 6000 << 50;
}

void tst_SensorControl::band()
{
    QFETCH(int, rpmMin);
    QFETCH(int, rpmMax);
    QFETCH(int, start);
    QFETCH(int, max);
    QFETCH(int, temperature);
    QFETCH(int, step);
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(int, mid);

    const QSensorSpeedBand band(rpmMin, rpmMax, start, max);
    QCOMPARE(band.step, step);
    QCOMPARE(band.lo(temperature), lo);
    QCOMPARE(band.hi(temperature), hi);
    QCOMPARE(band.mid, mid);
}

// Every row: fan limits 2000..6000, start 50, max 80 (step 133, mid 65) unless it says otherwise.
void tst_SensorControl::scenario_data()
{
    QTest::addColumn<int>("rpmMin");
    QTest::addColumn<int>("rpmMax");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero reading changes nothing") << 2000 << 6000 << 50 << 80 << 1000 << "1:0 1:60"
                                                  << "-1 3198";
    QTest::newRow("below start sends minimum, re-sent after 31 s")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:40 1:40 29:40 1:40 1:40"
        << "2000 -1 -1 2000 -1";
    QTest::newRow("first reading inside band holds the fan's speed")
        << 2000 << 6000 << 50 << 80 << 3250 << "1:60 1:60"
        << "3250 -1";
    QTest::newRow("first reading below band climbs at half rate")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:60*3"
        << "3198 3199 3200";
    QTest::newRow("rise ends half rate, next rise doubles")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:60 1:61 1:62 1:62"
        << "3198 3200 3204 3208";
    QTest::newRow("reversal within 10 s ignored, at 11 s taken")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:60 5:59 1:59 5:59"
        << "3198 3200 3202 -1";
    QTest::newRow("above max pins maximum, re-sent after 31 s")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:85 1:85 30:85"
        << "6000 -1 6000";
    QTest::newRow("still for a minute above mid creeps up")
        << 2000 << 6000 << 50 << 80 << 4600 << "1:70 30:70 1:70 27:70 1:70 1:70"
        << "4600 -1 4600 -1 4601 4602";
    QTest::newRow("still for a minute at mid creeps down")
        << 2000 << 6000 << 50 << 80 << 3250 << "1:60 59:60 1:60"
        << "3250 3249 3248";
    QTest::newRow("far below band adds a third of a step")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:60 1:75"
        << "3198 3244";
    QTest::newRow("far above band subtracts a third of a step")
        << 2000 << 6000 << 50 << 80 << 5250 << "1:75 1:60"
        << "5250 5204";
    QTest::newRow("decrease stops at the band's bottom")
        << 2000 << 2300 << 50 << 80 << 2095 << "1:60 1:59*8"
        << "2095 2093 2091 2089 2087 2085 2083 2081 2080";
    QTest::newRow("reset keeps double rate")
        << 2000 << 6000 << 50 << 80 << 1000 << "1:60 1:61 1:62 R 1:62"
        << "3198 3200 3204 3467";
    QTest::newRow("collapsed band stays at minimum")
        << 2000 << 2000 << 50 << 80 << 1000 << "1:60 1:70 11:75 31:75"
        << "2000 -1 -1 2000";
    QTest::newRow("max equals start switches at the start")
        << 2000 << 6000 << 50 << 50 << 1000 << "1:49 1:50 1:52 1:40"
        << "2000 2001 6000 2000";
    QTest::newRow("max below start switches at the start")
        << 2000 << 6000 << 50 << 30 << 1000 << "1:45 1:60 1:45"
        << "2000 6000 2000";
    QTest::newRow("unknown limits write nothing") << 0 << 0 << 50 << 80 << 1000 << "1:60 1:40"
                                                  << "-1 -1";
    QTest::newRow("limits not a range write nothing") << 6000 << 2000 << 50 << 80 << 1000 << "1:60"
                                                      << "-1";
}

void tst_SensorControl::scenario()
{
    QFETCH(int, rpmMin);
    QFETCH(int, rpmMax);
    QFETCH(int, start);
    QFETCH(int, max);
    QFETCH(int, rpm);
    QFETCH(QString, script);
    QFETCH(QString, expected);

    Rig rig(rpmMin, rpmMax, start, max, rpm);
    QCOMPARE(rig.run(script), expand(expected));
}

void tst_SensorControl::tendencyAfterScenario_data()
{
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("tendency");
    QTest::addColumn<int>("lastTemperature");
    QTest::addColumn<bool>("doubleRate");
    QTest::addColumn<bool>("halfRate");

    QTest::newRow("fresh") << 1000 << ""
                           << "TendencyUnknown" << -1 << false << false;
    QTest::newRow("ignored fall keeps last accepted") << 1000 << "1:60 5:59"
                                                      << "TendencyIncrease" << 60 << false << false;
    QTest::newRow("double") << 1000 << "1:60 1:61 1:62"
                            << "TendencyIncrease" << 62 << true << false;
    QTest::newRow("reset forgets history, keeps flags")
        << 1000 << "1:60 1:61 1:62 R"
        << "TendencyIncrease" << -1 << true << false;
    QTest::newRow("below start touches no tendency") << 3250 << "1:60 1:30"
                                                     << "TendencyDoNothing" << -1 << false << false;
    QTest::newRow("fall from do-nothing decreases") << 3250 << "1:60 1:58"
                                                    << "TendencyDecrease" << 58 << false << false;
    QTest::newRow("rise soon after do-nothing ignored")
        << 3250 << "1:60 1:59 1:60"
        << "TendencyDecrease" << 59 << false << false;
}

void tst_SensorControl::tendencyAfterScenario()
{
    QFETCH(int, rpm);
    QFETCH(QString, script);
    QFETCH(QString, tendency);
    QFETCH(int, lastTemperature);
    QFETCH(bool, doubleRate);
    QFETCH(bool, halfRate);

    Rig rig(2000, 6000, 50, 80, rpm);
    rig.run(script);
    QCOMPARE(rig.control().getTendencyString(), tendency);
    QCOMPARE(rig.control().lastTemperature(), lastTemperature);
    QCOMPARE(rig.control().isDoubleIncrease(), doubleRate);
    QCOMPARE(rig.control().isHalfStep(), halfRate);
}

void tst_SensorControl::logLines_data()
{
    QTest::addColumn<int>("rpmMax");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("climb, half off, double on")
        << 6000 << 1000 << "1:60 1:61 1:62"
        << QStringList{"CPU: HALF INCREASE ON",
                       "CPU: Tendency is set to TendencyIncrease, Temperature 60, RPM=1000",
                       "CPU: Setting fan speed to 3198",
                       "CPU: Temperature INCREASED to 61",
                       "CPU: HALF INCREASE OFF",
                       "CPU: Tendency is set to TendencyIncrease",
                       "CPU: Setting fan speed to 3200",
                       "CPU: Temperature INCREASED to 62",
                       "CPU: DOUBLE INCREASE ON",
                       "CPU: Tendency is set to TendencyIncrease",
                       "CPU: Setting fan speed to 3204"};
    QTest::newRow("ignored fall") << 6000 << 1000 << "1:60 5:59"
                                  << QStringList{"CPU: Setting fan speed to 3198",
                                                 "CPU: Temperature DECREASED to 59",
                                                 "CPU: Ignoring temperature change",
                                                 "CPU: Tendency is set to TendencyIncrease",
                                                 "CPU: Setting fan speed to 3200"};
    QTest::newRow("extra steps") << 6000 << 1000 << "1:60 1:75"
                                 << QStringList{"CPU: Adding extra 44 from current rpm 3242",
                                                "CPU: Setting fan speed to 3244"};
    QTest::newRow("subtract extra")
        << 6000 << 5250 << "1:75 1:60"
        << QStringList{
               "CPU: Tendency is set to TendencyDoNothing, Temperature 75, RPM=5250",
               "CPU: Temperature DECREASED to 60", "CPU: Tendency is set to TendencyDecrease",
               "CPU: Subtracting extra 44 from current rpm 5206", "CPU: Setting fan speed to 5204"};
    QTest::newRow("creep down") << 6000 << 3250 << "1:60 59:60 1:60"
                                << QStringList{"CPU: HALF DECREASE ON",
                                               "CPU: Setting fan speed to 3249"};
    QTest::newRow("peak max in collapsed band")
        << 2000 << 1000 << "1:60"
        << QStringList{"CPU: HALF INCREASE ON",
                       "CPU: PEEK MAX RPM '2000' for current temperature, do nothing now",
                       "CPU: Setting fan speed to 2000"};
    QTest::newRow("peak min")
        << 2300 << 2095 << "1:60 1:59*8"
        << QStringList{"CPU: Setting fan speed to 2081",
                       "CPU: PEEK MIN RPM '2080' for current temperature, do nothing now",
                       "CPU: Setting fan speed to 2080"};
}

void tst_SensorControl::logLines()
{
    QFETCH(int, rpmMax);
    QFETCH(int, rpm);
    QFETCH(QString, script);
    QFETCH(QStringList, messages);

    QsLogging::Logger::instance().waitForWrites();
    const int nBefore = m_pLog->lines().size();
    Rig rig(2000, rpmMax, 50, 80, rpm);
    rig.run(script);
    QsLogging::Logger::instance().waitForWrites();
    const QStringList lines = m_pLog->lines().mid(nBefore);

    // The messages appear in this order, each as the end of a line.
    int nAt = 0;
    for (const QString& message : messages) {
        while (nAt < lines.size() && !lines.at(nAt).trimmed().endsWith(message)) {
            ++nAt;
        }
        QVERIFY2(nAt < lines.size(),
                 qPrintable("missing in order: " + message + "\n" + lines.join('\n')));
        ++nAt;
    }
}

void tst_SensorControl::maxNotAboveStartStaysInRange_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("max");
    QTest::newRow("equal") << 50 << 50;
    QTest::newRow("one below") << 50 << 49;
    QTest::newRow("far below") << 60 << 20;
    QTest::newRow("negative max") << 40 << -10;
    QTest::newRow("absurd stored values") << 2147483647 << -2147483647 - 1;
}

// Whatever the temperatures do, a speed handed out lies within the fan's limits.
void tst_SensorControl::maxNotAboveStartStaysInRange()
{
    QFETCH(int, start);
    QFETCH(int, max);

    Rig rig(1200, 5200, start, max, 800);
    int nAnswers = 0;
    for (int round = 0; round < 3; ++round) {
        for (int t = 1; t <= 110; t += (round + 1) * 3) {
            for (int temperature : {t, 110 - t, start, max}) {
                rig.clock.advanceSecs(round == 1 ? 12 : 1);
                const int answer = rig.pFan->updateSensorControl(temperature);
                if (answer != -1) {
                    ++nAnswers;
                    QVERIFY2(answer >= 1200 && answer <= 5200, qPrintable(QString::number(answer)));
                }
            }
        }
    }
    QVERIFY(nAnswers > 10);
}

// The dialog resets the controller on the user-interface thread while the control thread
// updates it; every answer stays a speed within the fan's limits or "nothing".
void tst_SensorControl::resetWhileUpdating()
{
    Rig rig(1500, 5500, 40, 70, 1000);
    std::atomic<bool> bStop{false};
    std::thread dialog([&] {
        while (!bStop) {
            rig.pFan->resetSensorControl();
        }
    });
    int nBad = 0;
    int nAnswers = 0;
    for (int i = 0; i < 5000; ++i) {
        rig.clock.advanceSecs(1);
        const int answer = rig.pFan->updateSensorControl(30 + (i / 7) % 50);
        if (answer != -1) {
            ++nAnswers;
            if (answer < 1500 || answer > 5500) {
                ++nBad;
            }
        }
    }
    bStop = true;
    dialog.join();
    QCOMPARE(nBad, 0);
    QVERIFY(nAnswers > 0);
}

QTEST_GUILESS_MAIN(tst_SensorControl)
#include "tst_sensorcontrol.moc"
