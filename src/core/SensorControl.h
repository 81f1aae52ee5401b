#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <mutex>

class FanInfo;

// The speed band of sensor-based control: for a temperature X, the speeds from lo(X) to hi(X)
// belong to it. step is the RPM per degree between the start temperature S and the maximum M.
struct QSensorSpeedBand
{
    // A maximum at or below the start cannot spread the speed range over any degree; it is read
    // as start + 1, so the fan runs at its minimum below the start and at full speed above it.
    QSensorSpeedBand(int rpmMin, int rpmMax, int start, int max);

    int lo(int temperature) const;
    int hi(int temperature) const;

    int rpmMin;
    int rpmMax;
    int start;
    int max; // the effective maximum temperature, always above start
    int step;
    int mid;
};

// Turns the once-a-second readings of one sensor into a target speed for one fan. The target is
// not computed from the temperature; a tendency (increase, decrease, do nothing) moves it a few
// RPM per reading towards the band of the current temperature. Reversals within ten seconds of
// the last change of tendency are ignored, a temperature that holds still for a minute lets the
// target creep, and a speed is handed out only when it changed or 31 seconds after the last one.
//
// update() runs on the control thread and reset() on the user-interface thread; a mutex keeps
// them apart. The fan's mode and speeds are read before that mutex is taken.
class SensorBasedControl
{
public:
    enum Tendency : qint32
    {
        TendencyUnknown = 0,
        TendencyIncrease = 1,
        TendencyDecrease = 2,
        TendencyDoNothing = 3
    };

    explicit SensorBasedControl(FanInfo* pFan);

    // One control step for a temperature in whole degrees Celsius. Returns the speed to write
    // to the fan now, or -1 for nothing to write. A reading of 0, or a fan whose minimum and
    // maximum are not known yet (maximum 0) or not a range, gives -1 and changes nothing. A
    // returned speed always lies within the fan's minimum and maximum.
    int update(int temperature);
    // Forgets the history and the target; tendency, rate flags and timers stay.
    void reset();

    QString getTendencyString() const;
    static QString tendencyName(int tendency);

    // Inspection for tests and the simulation harness.
    Tendency tendency() const;
    int targetRpm() const;
    int lastTemperature() const;
    bool isDoubleIncrease() const;
    bool isHalfStep() const;

private:
    Q_DISABLE_COPY(SensorBasedControl)

    void resetLocked();
    bool updateTendency(int temperature, int currentRpm, const QSensorSpeedBand& band,
                        const QDateTime& now);
    void updateTarget(int temperature, bool bAccepted, const QSensorSpeedBand& band,
                      const QDateTime& now);
    void setTendency(Tendency tendency, QDateTime* pStamp, const QDateTime& now);
    int output(quint32 nowSecs, int rpmMin, int rpmMax);

    FanInfo* m_pFan;
    qint32 m_LastTemperature = -1;
    qint32 m_TargetRpm = -1;
    qint32 m_LastSetRpm = -1;
    quint32 m_LastSetTime = 0xFFFFFFFFu;
    Tendency m_Tendency = TendencyUnknown;
    bool m_DoubleIncrease = false;
    bool m_HalfStep = false;
    QDateTime m_DoNothingTime;
    QDateTime m_IncreaseTime;
    QDateTime m_DecreaseTime;
    QString m_FanName;
    mutable std::mutex m_Mutex;
};
