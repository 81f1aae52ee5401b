#pragma once

#include "core/SmcKeyTypes.h"
#include "core/SmcLinkMonitor.h"

#include <QMap>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <atomic>
#include <functional>

class FanInfo;
class QClock;
class QSmcControl;
class QTempSensor;
class QTempSensorSmart;

// The fan controller: discovers the fans and temperature sensors (or reloads them from the
// cache in the settings), refreshes speeds and values on request, writes target speeds and the
// fan-mode mask, and stores and restores every fan's control mode. It is the only writer of
// controller keys and does no timing of its own: the window's workers call it
// (FanControlLoops.h), and mode changes arrive through FanInfo::SetControlMode.
//
// Settings kept here: "Fans" and "TempSensors" (the discovery cache, written on a fresh start),
// "Fan_<index>" (each fan's mode in its text form). A fresh start is one where "Fans" is empty.
//
// In read-only mode (QCoreServices::isReadOnly) nothing is ever written to the controller.
//
// Safe readings of bad input, each with a Warn line:
// - "FS! " unreadable at start: every fan is taken as automatic (as a zeroed mask reads);
//   stored modes then take fans over as usual.
// - "FNum" above 10: only fans 0..9 exist for the program (per-fan keys hold one digit);
//   unreadable: no fans on a fresh start; the cached fans are kept on the cached path.
// - a cache that no longer describes the machine (another model in "Machine", as many cached
//   fans as "FNum" does not say, "Fans" without "TempSensors", unreadable characters, a cached
//   sensor that is not an SMC key): one Info line, then the fresh-start path, which stores what
//   it finds; the damaged value is never written back. Repeated cached keys count once.
// - stored "Fan_<index>" that parses as undefined, or a constant speed outside 1..16383: the fan
//   is set to automatic instead (an undefined mode would mark it manual with no target ever
//   written). A sensor-based mode whose sensor is missing is not applied and is kept stored;
//   the fan's manual bit is cleared so the system regulates it until the sensor is back.
class QFanControl
{
public:
    // pSmc: the key layer (null: the process-wide QSmcControl::instance()).
    // pClock: the time source of the manual-bit re-assertion and of every fan's sensor-based
    // control (null: QCoreServices::clock(), looked up at each use).
    explicit QFanControl(QSmcControl* pSmc = nullptr, QClock* pClock = nullptr);
    virtual ~QFanControl();

    // Discovery or cache, filtering, the fan-mode mask, drive sensors, restored modes. Once.
    void Init();

    FanInfo* GetFan(int index) const;
    int fanCount() const { return m_Fans.size(); }
    int fanIndex(const FanInfo* pFan) const;
    QTempSensor* sensorByKey(const QString& key) const;

    // The lists the user interface shows; they do not change after Init.
    const QVector<FanInfo*>& fans() const { return m_Fans; }
    const QVector<QTempSensor*>& sensors() const { return m_Sensors; }
    const QVector<QTempSensor*>& allSensors() const { return m_AllSensors; }

    // Reads the current speed and, unless bCurrentOnly, the minimum and maximum.
    void UpdateFanInfo(int index, bool bCurrentOnly);
    void UpdateTempSensor(QTempSensor* pSensor);
    // Re-asserts the fan's manual bit when its previous speed write is 3 s or more back (or on
    // the first write); a write that follows the previous one sooner reads "FS! " and sets the
    // bit again when the controller lost it. Then writes the target. Returns the write's
    // result; -1 (nothing written) for no such fan or a fan whose mode is now automatic.
    int SetFanRPM(int index, int rpm);

    // One reading in degrees Celsius, or -1.0 when unreadable or 128 degrees or more.
    double smc_get_temp(const char* key);
    // Writes the fan-mode mask built from every fan's manual flag (fans 0..7 only).
    void smc_set_fans_control_mode();
    // Stores every fan's mode under "Fan_<index>". An undefined mode is not stored, so that a
    // stored sensor-based mode whose sensor was missing at this start survives for the next.
    void saveFansControlMode();
    // Every SMC temperature key straight from the key index (for the technical report).
    QVector<QString> loadAllTempSensors();

    QClock* clock() const;
    // How the program waits between tries while the system holds a fan (default: sleeps the
    // calling thread). Tests step their clock instead.
    void setSleep(std::function<void(int nMsecs)> sleep);

    // How this machine lets a program take a fan, from the keys it has: the mask "FS! " (Intel
    // Macs before the T2 chip), a mode key per fan "F<i>Md" (0 automatic, 1 manual; T2 Macs), or
    // mode keys behind the unlock "Ftst" (Apple silicon: "Ftst" 1 first, then each fan's mode
    // key, which reads 3 while the system still holds the fan).
    enum FanFamily
    {
        FamilyMask,
        FamilyPerFanMode,
        FamilyUnlock
    };
    FanFamily fanFamily() const { return m_Family; }
    // On the unlock family, called by every control pass: unlocked fans go back to the system
    // after 60 s without a write, so a manual fan's last target is sent again after 30 s
    // without any.
    void keepFansUnlocked();

    // The fail-safe of a fan that follows a sensor. When the sensor has failed, the fan is handed
    // back to the system (its manual bit cleared, its mode kept) once, with a Warn line; when
    // the sensor is trusted again the hold ends with an Info line and the mode takes the fan
    // again with its next write. True when the fan may be driven from the sensor now.
    bool checkFollowedSensor(int index, const QTempSensor* pSensor);

    // The controller's link, judged by the update pass (SmcLinkMonitor). beginUpdatePass
    // answers whether the pass should read: always while the controller answers; while it does
    // not, only when a retry is due and one read was answered (the modes are then applied
    // again by the next control pass). endUpdatePass judges the pass's reads and returns true
    // when it lost the link. While the link is lost nothing is written.
    bool beginUpdatePass(bool* pChanged = nullptr);
    bool endUpdatePass();
    // After the link came back, on the control pass's thread: every fan under the program's
    // control (not one held back for its sensor) is taken again by its next write; constant
    // speeds are commanded again and sensor-based control starts over.
    void reapplyModesIfDue();
    bool isSmcLost() const { return m_bSmcLost.load(); }
    qint64 smcLostSinceMsecs() const { return m_nSmcLostSinceMsecs.load(); }

private:
    Q_DISABLE_COPY(QFanControl)

    void LoadFansAndTempSensors(int nCount);
    void LoadTempSensors();
    void SaveFansAndTempSensors();
    void LoadCachedFansAndTempSensors();
    void FilterSupportedTempSensors();
    void smc_get_fans_control_mode();
    void LoadFansControlMode();
    QString smc_get_fan_name(int index);
    // True when it (re)asserted the fan's manual state.
    bool TurnFanToManualModeIfNeeded(int index);
    // Unlock family: tries the fan's mode key again every 100 ms for up to 10 s while it reads 3.
    void waitWhileSystemHolds(int index);
    void detectFanFamily();
    // Mode-key families: "Ftst" 1 before any manual fan, every fan's mode key, "Ftst" 0 after
    // when no fan is manual.
    void setFanModeKeys();
    int readRpm(const QByteArray& key);
    // A number in the key's own type (fallback: the layout older controllers use).
    bool readNumber(const QByteArray& key, const QSmcKeyTypes::Type& fallback, double& dValue);
    int writeNumber(const QByteArray& key, double dValue, const QSmcKeyTypes::Type& fallback);
    // The key whose answer tells whether the controller is back: a fan's speed, else a sensor.
    QByteArray probeKey() const;

    // "FNum", limited to the fans that per-fan keys can name; -1 when unreadable.
    int readFanCount();
    // True at most once per re-assertion period per fan: time to read the mask again.
    bool takeMaskCheckTurn(int index, quint32 now);
    // "FS! " reads without the fan's bit (false when it cannot be read).
    bool maskLacksFan(int index);
    void addSensor(const QString& key);
    int readKey(const QByteArray& key, unsigned char* pBuffer, unsigned char size);
    int writeKey(const QByteArray& key, const unsigned char* pBuffer, unsigned char size);

    QSmcControl* m_pSmc;
    QVector<FanInfo*> m_Fans;
    QVector<QTempSensor*> m_AllSensors;
    QVector<QTempSensor*> m_Sensors;
    QVector<QTempSensorSmart*> m_SmartSensors;
    QMap<int, quint32> m_LastManualTime;
    QMap<int, quint32> m_LastMaskCheckTime; // when the mask was last read or asserted for a fan
    QMap<int, bool> m_MaskLossLogged;       // a lost bit is logged once until it is seen set again
    QClock* m_pClock;
    QSmcKeyTypes m_KeyTypes;
    FanFamily m_Family = FamilyMask; // set by Init, read-only afterwards
    std::function<void(int)> m_Sleep;
    std::array<std::atomic<int>, 10> m_nLastTargetRpm{}; // per fan; the control pass's
    std::atomic<qint64> m_nLastWriteMsecs{0};
    SmcLinkMonitor m_Link; // the update pass's alone
    std::atomic<bool> m_bSmcLost{false};
    std::atomic<qint64> m_nSmcLostSinceMsecs{-1};
    std::atomic<bool> m_bReapplyDue{false};
    std::atomic<int> m_nReadsAnswered{0}; // reads of the current update pass (and any other)
    std::atomic<int> m_nReadsFailed{0};
};
