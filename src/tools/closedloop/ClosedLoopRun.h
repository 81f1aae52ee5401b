#pragma once

#include "sim/QSimProfile.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One closed-loop run: the real fan controller and its update and control passes against the
// simulated SMC, on a manual clock stepped one pass at a time (control every simulated second,
// update every 1.5 s), so half an hour of machine time takes a second or two of real time.

// A fault switched on at a simulated second: a failed read, a reading of 128 °C or more, or 0.0.
struct ClosedLoopFault
{
    enum Kind
    {
        FaultRead,
        FaultHot,
        FaultZero
    };
    Kind kind = FaultRead;
    QByteArray key;
    double dAtSecs = 0;

    // "read:KEY@T", "hot:KEY@T" or "zero:KEY@T"; false for anything else.
    static bool parse(const QString& text, ClosedLoopFault& fault);
};

struct ClosedLoopOptions
{
    QString profile;               // profile name or file; or:
    QString dumpPath;              // a bare key dump
    QString model;                 // model identifier for a bare dump
    QString dynamicsPath;          // profile-format file whose dynamics are used instead
    QString modeText;              // "auto", "constant:RPM", "sensor:KEY,START,MAX", "curve:..."
    QString watchKey;              // reported sensor; empty = the mode's own or the first CPU one
    int nMaxTemperature = -1;      // MAX for the table; -1 = the mode's own maximum
    int nFan = -1;                 // the fan that gets the mode; -1 = every fan
    double dMinutes = 30;          // simulated length
    QString csvPath;               // one row per simulated second; empty = no CSV
    bool bProfileSchedule = false; // keep the profile's own load schedule
    QVector<ClosedLoopFault> faults;
    QList<QStringList> drives; // replayed drives: identify file, SMART file
};

// The load phases the figures are split by.
enum ClosedLoopPhase
{
    PhaseIdle,
    PhaseSustained,
    PhaseBursts,
    PhaseCount
};

// Figures of one phase; per-minute rates are computed from nSecs.
struct ClosedLoopPhaseStats
{
    int nSecs = 0;
    double dTempSum = 0;
    double dTempPeak = 0;
    int nSecsAboveMax = 0;     // whole degrees of the watched sensor above MAX
    int nSecsFullAboveMax = 0; // of those, seconds with every controlled fan at full speed
    double dRpmSum = 0;        // mean over the controlled fans, summed per second
    double dRpmPeak = 0;
    int nTargetWrites = 0;
    int nReversals = 0;  // a written target moving the other way than the one before it
    int nToolStarts = 0; // every write starts the key-writing tool once
    int nMaskWrites = 0; // "FS! "
    quint64 nUpdateReads = 0;
    int nUpdatePasses = 0;
};

struct ClosedLoopFanSummary
{
    QString name;
    int nMin = 0;
    int nMax = 0;
    bool bControlled = false;
    int nTargetLow = -1; // lowest and highest target written; -1 = none written
    int nTargetHigh = -1;
    double dActualLow = 0; // lowest and highest actual speed seen
    double dActualHigh = 0;
    double dHandBackSecs = -1;   // first hand-back for a failed sensor; -1 = none
    double dTakenAgainSecs = -1; // the sensor trusted again after the last hand-back; -1 = not
};

struct ClosedLoopSummary
{
    QString model;
    QString modeText;
    QString dynamics; // where the dynamics came from
    QString watchedKey;
    QString csvPath;
    QStringList sensors; // "KEY  display name", in the controller's order
    QStringList drives;  // "name  SSD|HDD  value C  proposed MIN-MAX C" at the end of the run
    QVector<ClosedLoopFanSummary> fans;
    double dSimSecs = 0;
    int nMaxTemperature = -1; // -1 when neither the options nor the mode give one
    int nReadFloor = 0;       // reads an update pass needs: fans' current speeds and sensors
    ClosedLoopPhaseStats phases[PhaseCount];
    double dControllerCpuSecs = 0; // controller code only, simulator excluded
    double dRealSecs = 0;
};

// The standard load schedule: idle, a sustained load, bursts, back to idle, scaled to minutes.
QVector<QSimLoadPhase> standardSchedule(double dMinutes);
// The phase each entry of a schedule belongs to: light loads are idle, long ones sustained,
// short ones bursts.
QVector<ClosedLoopPhase> schedulePhases(const QVector<QSimLoadPhase>& schedule);

// The maximum temperature a mode text carries (sensor: its MAX, curve: its last point), or -1.
int modeMaxTemperature(const QString& modeText);
// The sensor a mode text follows (sensor and curve modes), or empty.
QString modeSensorKey(const QString& modeText);

// Runs one closed loop. On failure returns false with *pError set.
bool runClosedLoop(const ClosedLoopOptions& options, ClosedLoopSummary& summary, QString* pError);

// The report: the machine, its sensors and fans, then a row per run and a column group per
// load phase.
QString formatReport(const QVector<ClosedLoopSummary>& runs);
