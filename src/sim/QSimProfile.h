#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// How one temperature sensor answers load: degrees it rises above its idle reading at full load
// (in still air) and the time constant with which it follows.
struct QSimSensorParams
{
    double dLoadHeat = 6.0;
    double dTauSecs = 40.0;
};

// One phase of the load schedule: a load from 0 (idle) to 1 (everything busy) held for a time.
struct QSimLoadPhase
{
    double dLoad = 0.0;
    double dSecs = 0.0;
};

// The parameters of the thermal and fan model.
struct QSimDynamicsParams
{
    double dAmbient = 24.0;      // °C the machine cools towards
    double dAirflow = 1.5;       // heat rise at full fan speed is 1 / (1 + airflow) of still air
    double dRampRpmPerSec = 600; // fastest change of a fan's actual speed
    double dAutoLow = 50.0;      // hottest processor temperature at which auto fans leave minimum
    double dAutoHigh = 85.0;     // and at which they reach maximum
    double dNoise = 0.1;         // °C amplitude of the reading noise
    quint64 nSeed = 1;           // noise seed
    QSimSensorParams defaults;   // sensors that no row below matches
    // Rows by key, or by prefix when the pattern ends in "*"; the first match wins.
    QVector<QPair<QByteArray, QSimSensorParams>> sensors = {
        {"TC*", {30.0, 10.0}}, {"TG*", {18.0, 25.0}}, {"TN*", {10.0, 30.0}}};
    QVector<QSimLoadPhase> schedule; // repeated from the start; empty = idle
    QVector<double> fanAirflow;      // share of the airflow per fan; empty = equal shares

    const QSimSensorParams& sensor(const QByteArray& key) const;
    double loadAt(double dSecsSinceStart) const;
};

// One simulated drive of a profile: its two raw 512-byte blocks and how it warms with load.
struct QSimDriveParams
{
    QString identifyPath; // ATA IDENTIFY DEVICE data
    QString smartPath;    // SMART READ DATA
    double dLoadHeat = 0; // °C above the block's own reading at full load
    double dTauSecs = 300;
};

// A machine profile: which dump to serve, the model identifier to report and the dynamics.
// The file is a small INI text:
//
//     [machine]
//     model = MacPro4,1
//     dump = MacPro4,1.dump          (relative to the profile's folder)
//     [thermal]
//     ambient = 22
//     airflow = 1.8
//     ramp = 500
//     auto.low = 48
//     auto.high = 80
//     noise = 0.1
//     fan.airflow = 1, 1, 2, 1
//     schedule = idle:120, load:300, burst:15, idle:15, 0.3:60
//     [sensors]
//     default = 6, 40                (load heat in °C, time constant in seconds)
//     TC* = 30, 8
//     [drives]
//     drive = drives/hdd.identify, drives/hdd.smart, 8, 400   (blocks, load heat, time constant)
//
// Schedule loads are numbers from 0 to 1 or the words idle (0.05), light (0.3), load (0.85)
// and burst (1.0). Lines starting with "#" or ";" are comments.
struct QSimProfile
{
    QString name;     // the file's base name
    QString model;    // model identifier reported to clients
    QString dumpPath; // absolute path of the dump
    QSimDynamicsParams dynamics;
    QVector<QSimDriveParams> drives;

    // Reads a profile file; on error *pError names the file and line.
    static bool load(const QString& path, QSimProfile& profile, QString* pError);
    // Reads a profile file for its dynamics alone: a file without [machine] (no dump) will do.
    static bool loadDynamics(const QString& path, QSimProfile& profile, QString* pError);

    // Finds a profile given by name ("MacPro4,1") or by path. Names are looked up as
    // "<name>.profile" in searchDirs in order.
    static QString find(const QString& nameOrPath, const QStringList& searchDirs);

    // Where profiles live for a program in binDir: $THERMORA_PROFILES_DIR, the build's
    // "<bin>/../share/thermora/profiles", and a "profiles" folder of the source tree above binDir.
    static QStringList defaultSearchDirs(const QString& binDir);

private:
    static bool parse(const QString& path, QSimProfile& profile, bool bNeedDump, QString* pError);
};
