#include "core/FanInfo.h"
#include "core/SensorControl.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "support/QLogCapture.h"

#include <QtTest>

namespace {
// A fan with known limits and speed, its sensor-based control on a manual clock.
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

    // Runs readings written "seconds:temperature" ("*n": n times; "R": reset) and returns the
    // answers, space separated.
    QString run(const QString& script)
    {
        QStringList answers;
        for (const QString& token : script.split(' ', Qt::SkipEmptyParts)) {
            if (token == "R") {
                pFan->resetSensorControl();
                continue;
            }
            const QStringList parts = token.section('*', 0, 0).split(':');
            const int count = token.contains('*') ? token.section('*', 1).toInt() : 1;
            for (int i = 0; i < count; ++i) {
                clock.advanceSecs(parts.at(0).toDouble());
                answers << QString::number(pFan->updateSensorControl(parts.at(1).toInt()));
            }
        }
        return answers.join(' ');
    }
    // "<tendency> <last temperature>", then " double" and " half" when those rates are on.
    QString state() const
    {
        const SensorBasedControl& c = *pFan->sensorControl();
        return c.getTendencyString().mid(8) + " " + QString::number(c.lastTemperature()) +
               (c.isDoubleIncrease() ? " double" : "") + (c.isHalfStep() ? " half" : "");
    }

    QManualClock clock;
    QScopedPointer<FanInfo> pFan;
};

} // namespace

class tst_SensorControl : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
    void logLines_data();
    void logLines();

private:
    QLogCapture m_Log;
};

// Fan limits 2000..6000, start 50, max 80 (step 133, mid 65, lo(60) 3197, hi(60) 3330) unless
// the row says otherwise. The clock starts a second before the first reading.
void tst_SensorControl::scenario_data()
{
    QTest::addColumn<QList<int>>("limits"); // minimum, maximum RPM, start, max temperature
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("state"); // empty: not checked

    const auto add = [](const char* name, int rpm, const char* script, const char* expected,
                        const char* state = "", const QList<int>& limits = {2000, 6000, 50, 80}) {
        QTest::newRow(name) << limits << rpm << QString(script) << QString(expected)
                            << QString(state);
    };
    add("zero reading changes nothing", 1000, "1:0 1:60", "-1 3198", "Increase 60 half");
    add("below start: minimum, again after 31 s", 1000, "1:40 1:40 29:40 1:40 1:40",
        "2000 -1 -1 2000 -1", "Unknown -1");
    add("first reading inside band holds the speed", 3250, "1:60 1:60", "3250 -1", "DoNothing 60");
    add("first reading at lo(T) is not inside", 3197, "1:60", "3198", "Increase 60 half");
    add("first reading at hi(T) is not inside", 3330, "1:60", "3198");
    add("rise ends half rate, next rise doubles", 1000, "1:60 1:61 1:62 1:62",
        "3198 3200 3204 3208", "Increase 62 double");
    add("fall 10 s into an increase ignored, at 11 s taken", 1000, "1:60 10:59 1:59",
        "3198 3200 -1", "DoNothing 59");
    add("rise 10 s into do-nothing ignored, at 11 s taken", 3250, "1:60 9:61 1:61", "3250 -1 3252",
        "Increase 61");
    add("rise 10 s after a fall ignored, at 11 s taken", 3250, "1:60 1:59 10:60 1:60",
        "3250 3248 3246 3248", "Increase 60");
    add("at max: still the band", 1000, "1:80", "5858");
    add("above max pins maximum, again after 31 s", 1000, "1:85 1:85 30:85", "6000 -1 6000");
    add("still a minute above mid (55 of 40..71) creeps up", 4000, "1:56 31:56 27:56 1:56 1:56",
        "4000 4000 -1 4001 4002", "Increase 56 half", {2000, 6000, 40, 71});
    add("still a minute at mid creeps down", 3900, "1:65 31:65 27:65 1:65 1:65",
        "3900 3900 -1 3899 3898", "Decrease 65 half");
    add("more than two steps below band adds a third of one", 1000, "1:60 1:63", "3198 3244");
    add("two steps below band: no extra", 1000, "1:60 1:62", "3198 3200");
    add("far above band subtracts a third of a step", 5250, "1:75 1:60", "5250 5204",
        "Decrease 60");
    add("decrease stops at the band's bottom", 2095, "1:60 1:59*8",
        "2095 2093 2091 2089 2087 2085 2083 2081 2080", "DoNothing 59", {2000, 2300, 50, 80});
    add("reset keeps double rate", 1000, "1:60 1:61 1:62 R 1:62", "3198 3200 3204 3467");
    add("reset forgets history, keeps flags", 1000, "1:60 1:61 1:62 R", "3198 3200 3204",
        "Increase -1 double");
    add("collapsed band stays at minimum", 1000, "1:60 1:70 11:75 31:75", "2000 -1 -1 2000", "",
        {2000, 2000, 50, 80});
    add("max equals start switches at the start", 1000, "1:49 1:50 1:52 1:40",
        "2000 2001 6000 2000", "", {2000, 6000, 50, 50});
    add("max below start switches at the start", 1000, "1:45 1:60 1:45", "2000 6000 2000", "",
        {2000, 6000, 50, 30});
    add("absurd stored start and max: minimum", 1000, "1:60 1:120 31:99", "1200 -1 1200", "",
        {1200, 5200, 2147483647, -2147483647 - 1});
    add("unknown limits write nothing", 1000, "1:60 1:40", "-1 -1", "", {0, 0, 50, 80});
    add("limits not a range write nothing", 1000, "1:60", "-1", "", {6000, 2000, 50, 80});
}

void tst_SensorControl::scenario()
{
    QFETCH(QList<int>, limits);
    QFETCH(int, rpm);
    QFETCH(QString, script);
    QFETCH(QString, expected);
    QFETCH(QString, state);

    Rig rig(limits[0], limits[1], limits[2], limits[3], rpm);
    QCOMPARE(rig.run(script), expected);
    if (!state.isEmpty()) {
        QCOMPARE(rig.state(), state);
    }
}

void tst_SensorControl::logLines_data()
{
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("messages"); // each after "CPU: ", separated by "|"

    QTest::newRow("climb, half off, double on")
        << 1000 << "1:60 1:61 1:62"
        << "HALF INCREASE ON|Tendency is set to TendencyIncrease, Temperature 60, RPM=1000|"
           "Setting fan speed to 3198|Temperature INCREASED to 61|HALF INCREASE OFF|"
           "Tendency is set to TendencyIncrease|Setting fan speed to 3200|"
           "Temperature INCREASED to 62|DOUBLE INCREASE ON|Setting fan speed to 3204";
    QTest::newRow("ignored fall") << 1000 << "1:60 5:59"
                                  << "Temperature DECREASED to 59|Ignoring temperature change|"
                                     "Tendency is set to TendencyIncrease";
    QTest::newRow("extra steps") << 1000 << "1:60 1:75"
                                 << "Adding extra 44 from current rpm 3242";
    QTest::newRow("subtract extra")
        << 5250 << "1:75 1:60"
        << "Tendency is set to TendencyDoNothing, Temperature 75, RPM=5250|"
           "Tendency is set to TendencyDecrease|Subtracting extra 44 from current rpm 5206";
    QTest::newRow("creep down") << 3250 << "1:60 59:60 1:60"
                                << "HALF DECREASE ON|Setting fan speed to 3249";
    QTest::newRow("peak max") << 3320 << "1:60 11:61 1:61*80"
                              << "PEEK MAX RPM '3463' for current temperature, do nothing now";
    QTest::newRow("peak min") << 3250 << "1:60 1:59*100"
                              << "PEEK MIN RPM '3064' for current temperature, do nothing now";
}

// Every message at the Info level, in this order.
void tst_SensorControl::logLines()
{
    QFETCH(int, rpm);
    QFETCH(QString, script);
    QFETCH(QString, messages);

    m_Log.start();
    Rig rig(2000, 6000, 50, 80, rpm);
    rig.run(script);
    const QStringList lines = m_Log.lines();
    int nAt = 0;
    for (const QString& message : messages.split('|')) {
        while (nAt < lines.size() &&
               !(lines.at(nAt).startsWith("INFO") &&
                 lines.at(nAt).contains(
                     QRegularExpression("CPU: " + QRegularExpression::escape(message) + "\\b")))) {
            ++nAt;
        }
        QVERIFY2(nAt < lines.size(), qPrintable("missing: " + message + "\n" + lines.join('\n')));
        ++nAt;
    }
}

QTEST_GUILESS_MAIN(tst_SensorControl)
#include "tst_sensorcontrol.moc"
