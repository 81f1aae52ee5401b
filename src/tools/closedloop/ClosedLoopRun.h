#pragma once

#include "sim/QSimProfile.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One closed-loop run: the real fan controller and its update and control passes against the
// simulated SMC, on a manual clock stepped one pass at a time (control every simulated second,
// update every 1.5 s), so half an hour of machine time takes a second or two of real time.
struct ClosedLoopOptions
{
    QString profile;               // profile name or file; or:
    QString dumpPath;              // a bare key dump, served with default dynamics
    QString model;                 // model identifier for a bare dump
    QString modeText;              // "auto", "constant:RPM" or "sensor:KEY,START,MAX"
    int nFan = -1;                 // the fan that gets the mode; -1 = every fan
    double dMinutes = 30;          // simulated length
    QString csvPath;               // one row per simulated second; empty = no CSV
    bool bProfileSchedule = false; // keep the profile's own load schedule
    QList<QStringList> drives;     // replayed drives: identify file, SMART file
};

struct ClosedLoopFanSummary
{
    QString name;
    int nMin = 0;
    int nMax = 0;
    int nTargetChanges = 0;
    double dFinalActual = 0;
    int nFinalTarget = 0;
};

struct ClosedLoopSummary
{
    QString model;
    QString followedKey;
    QStringList sensors; // "KEY  display name", in the controller's order
    QStringList drives;  // "name  SSD|HDD  value C  proposed MIN-MAX C" at the end of the run
    QVector<ClosedLoopFanSummary> fans;
    double dSimSecs = 0;
    double dTempMean = 0;
    double dTempMax = 0;
    int nMaxTemperature = -1; // the mode's maximum; -1 when the mode has none
    int nSecsAboveMax = 0;
    quint64 nReads = 0;
    quint64 nWrites = 0;
    double dControllerCpuSecs = 0; // controller code only, simulator excluded
    double dRealSecs = 0;
};

// The standard load schedule: idle, a sustained load, bursts, back to idle, scaled to minutes.
QVector<QSimLoadPhase> standardSchedule(double dMinutes);

// Runs one closed loop. On failure returns false with *pError set.
bool runClosedLoop(const ClosedLoopOptions& options, ClosedLoopSummary& summary, QString* pError);

// The human-readable summary.
QString formatSummary(const ClosedLoopOptions& options, const ClosedLoopSummary& summary);
