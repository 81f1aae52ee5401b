#pragma once

#include <QAtomicInt>
#include <QIcon>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class QClock;
class QFanControl;
class QTempSensor;
class SensorBasedControl;

// The kind of a fan or a sensor; selects its icon. The numbers are compared and used as an index.
enum FanType
{
    FanTypeOpticalDrive = 0,
    FanTypeHardDrive = 1,
    FanTypeSolidStateDrive = 2,
    FanTypeProcessor = 3,
    FanTypeAirport = 4,
    FanTypeGeneric = 5
};

// What the user chose for one fan, with the one-line text form the settings keep:
//   "0"             automatic (the controller's own regulation)
//   "1,<rpm>"       constant speed
//   "2,<key>,<start>,<max>"  follow one sensor between two temperatures (whole degrees Celsius)
//   ""              undefined
class FanControlMode
{
public:
    enum Mode
    {
        ModeAutomatic = 0,
        ModeConstant = 1,
        ModeSensor = 2,
        ModeUndefined = 3
    };

    FanControlMode() = default;

    static FanControlMode automatic();
    static FanControlMode constant(int rpm);
    static FanControlMode sensor(const QString& key, int start, int max);

    int GetMode() const { return m_Mode; }
    bool isAutomatic() const { return m_Mode == ModeAutomatic; }
    int GetConstantRPM() const { return m_nConstantRpm; }
    int valueStart() const { return m_nValueStart; }
    int valueMax() const { return m_nValueMax; }
    QString sensorKey() const { return m_SensorKey; }
    QTempSensor* getSensor() const { return m_pSensor; }
    void setSensor(QTempSensor* pSensor) { m_pSensor = pSensor; }

    QString toString() const;
    // Never fails: text that does not follow the grammar gives an undefined mode. A text of
    // exactly one character, whatever it is, is automatic. A "1" text without a second field
    // ("1x") is read as undefined rather than as constant 0: a zero target would stop the fan.
    static FanControlMode fromString(const QString& text);

private:
    int m_Mode = ModeUndefined;
    int m_nConstantRpm = 0;
    int m_nValueStart = 0;
    int m_nValueMax = 0;
    QString m_SensorKey;
    QTempSensor* m_pSensor = nullptr; // resolved by the fan controller, never stored
};

// One physical fan: its name and kind, the speeds last read, the manual flag the program wants
// in the controller's fan mode mask, and the chosen control mode. Only its owner, the fan
// controller, touches controller keys; a FanInfo asks the owner to.
class FanInfo
{
public:
    // pOwner may be null (tests): then nothing is ever written and no sensor is resolved.
    FanInfo(QFanControl* pOwner, const QString& name);
    ~FanInfo();

    FanType GetTypeByName() const;
    FanType GetType() const { return m_Type; }
    QString GetName() const { return m_Name; }

    void SetManual(bool bManual, bool bWriteNow);
    bool IsManual() const { return m_bManual.load(); }

    // Replaces the mode, marks it just changed, sets the manual flag (anything but automatic
    // counts as manual) and has the owner write the fan mode mask, changed or not. A
    // sensor-based mode gets its sensor resolved by key. No target speed is written here.
    void SetControlMode(const FanControlMode& mode);
    FanControlMode GetControlMode() const;

    bool isControlModeJustChanged() const { return m_ControlModeJustChanged.loadAcquire() == 1; }
    void resetControlModeJustChanged() { m_ControlModeJustChanged.storeRelease(0); }
    void markControlModeJustChanged() { m_ControlModeJustChanged.storeRelease(1); }

    // The display name of the failed sensor for which the fan was handed back to the system
    // while keeping its mode; empty when it is not held back. A new mode ends the hold.
    QString heldBackFor() const;
    void setHeldBackFor(const QString& sensorName);

    // The sensor-based controller's answer for this rounded temperature: a speed to write now,
    // or -1 for nothing to write.
    int updateSensorControl(int temperature);
    void resetSensorControl();
    // The fan's sensor-based controller, for inspection (tests, the simulation harness).
    const SensorBasedControl* sensorControl() const { return m_pSensorControl.get(); }

    // A zero minimum or maximum means "not read this time" and keeps the previous value.
    void updateRpmValues(int rpm, int rpmMin, int rpmMax);
    int GetRPM() const;
    int GetRPMMin() const;
    int GetRPMMax() const;

    // The time source of this fan's sensor-based control: the owner's, else the core's.
    QClock* clock() const;

    // The resource path of a fan's or sensor's icon; empty for a sensor of the generic type.
    static QString GetFanIconPathByType(FanType type, bool bForSensor, bool bLarge);
    // The icon at that path; for an empty path a fully transparent 16 x 16 image, so that
    // table rows keep their alignment.
    static QIcon GetFanIconByType(FanType type, bool bForSensor, bool bLarge);

private:
    Q_DISABLE_COPY(FanInfo)

    FanType m_Type;
    std::unique_ptr<SensorBasedControl> m_pSensorControl;
    QFanControl* m_pFanControl;
    QString m_Name;
    int m_nRpm = -1;
    int m_nRpmMin = 0;
    int m_nRpmMax = 0;
    std::atomic<bool> m_bManual{false}; // read by the mask writer on other threads
    FanControlMode m_ControlMode;
    QString m_HeldBackFor;
    QAtomicInt m_ControlModeJustChanged{0};
    mutable std::mutex m_Mutex; // guards the speeds, m_ControlMode and m_HeldBackFor, one access
};
