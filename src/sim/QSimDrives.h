#pragma once

#include "sim/QSimProfile.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <mutex>

class QClock;

// The drives of a simulated machine. Each serves its IDENTIFY block as stored. A drive of a
// profile warms with the machine's load: its SMART block is served with the temperature
// attribute's raw[0] (194, else 190) set to the drive's present temperature, which starts at
// the block's own reading and rises by up to dLoadHeat at full load with time constant
// dTauSecs. A replayed drive (dLoadHeat 0) serves its SMART block unchanged. Thread safe.
class QSimDrives
{
public:
    // The answer to a request for a drive that does not exist.
    static constexpr int32_t kNoSuchDrive = static_cast<int32_t>(0xE00002C0);

    // pClock null means the clock of QCoreServices.
    explicit QSimDrives(QClock* pClock = nullptr);

    // Replaces the drives with a profile's, following its load schedule; false (and the
    // drives unchanged) when a block file cannot be used.
    bool load(const QVector<QSimDriveParams>& rows, const QSimDynamicsParams& dynamics,
              QString* pError);
    // Adds a drive that replays its two blocks unchanged.
    bool addReplayed(const QString& identifyPath, const QString& smartPath, QString* pError);
    void addDrive(const QByteArray& identify, const QByteArray& smart, double dLoadHeat = 0,
                  double dTauSecs = 300);
    int count() const;

    // One request (commands as QDriveSourceSim): the count as result for command 0; 0 and the
    // block for 1 (identify) and 2 (SMART data); kNoSuchDrive otherwise.
    int32_t request(uint32_t nCommand, uint32_t nDrive, QByteArray& block);

    // The present temperature of drive i (°C, whole degrees as the drive reports it); -1 for
    // no such drive or a SMART block without a temperature.
    int temperature(int i);

    // "IDENTIFY_FILE,SMART_FILE" as the tools take it. File names may hold commas (profile
    // names do): the split is at the first comma whose left side names an existing file, else at
    // the first comma. False without two non-empty names.
    static bool splitDriveArgument(const QString& arg, QString& identifyPath, QString& smartPath);
    // A block file: exactly 512 bytes.
    static bool readBlock(const QString& path, QByteArray& block, QString* pError);
    // "drive = IDENTIFY, SMART[, HEAT, TAU]" of a profile's [drives] section, paths relative to
    // dir; false when the row cannot be used.
    static bool parseProfileRow(const QString& name, const QString& value, const QString& dir,
                                QVector<QSimDriveParams>& rows);

private:
    struct Drive
    {
        QByteArray identify;
        QByteArray smart;
        int nTempOffset = -1; // byte of raw[0] in the SMART block; -1 none
        int nIdle = 0;        // the block's own reading
        double dLoadHeat = 0;
        double dTauSecs = 300;
        double dWarmth = 0; // smoothed load, 0..1
    };

    qint64 nowMsecs() const;
    void advanceLocked(qint64 nMsecs);
    int temperatureLocked(const Drive& drive) const;

    QClock* m_pClock;
    mutable std::mutex m_Mutex;
    QVector<Drive> m_Drives;
    QSimDynamicsParams m_Dynamics;
    qint64 m_nStartMsecs = 0;
    qint64 m_nSimMsecs = 0;
};
