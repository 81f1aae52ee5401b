#pragma once

#include "core/FanInfo.h" // FanType
#include "core/SensorHealth.h"
#include "core/TemperatureScaleHelpers.h"

#include <QByteArray>
#include <QString>
#include <mutex>

class QFanControl;

// One temperature reading point: an SMC temperature key, the name shown for it and its last
// valid value in degrees Celsius. Key and name are set before the sensor is shared and never
// change afterwards; the value is written by the update worker and read everywhere else, one
// access at a time under the sensor's own mutex.
class QTempSensor
{
public:
    // The machine facts some sensor-table rows depend on.
    struct MachineFacts
    {
        bool bMacPro = false;
        int nModelCode = 0;
        int nGeneration = 0; // SysInfoHelpers::MacGeneration
    };

    QTempSensor();
    virtual ~QTempSensor();

    // Sets the key and takes the display name from the sensor table (the key itself when the
    // table has no row for it).
    virtual void setKey(const QString& key);
    virtual FanType GetFanType();
    virtual bool isHDD();
    // Default start and maximum temperature offered for sensor-based control.
    virtual int GetProposedMin();
    virtual int GetProposedMax();
    // Reads the sensor now through the controller; an unreadable reading (a failed read, 0.0,
    // or out of range) keeps the last value and counts against the sensor's health.
    virtual void UpdateValue(QFanControl* pController);

    const QString& GetKey() const { return m_Key; }
    const QString& GetDisplayName() const { return m_DisplayName; }
    void SetDisplayName(const QString& name);

    double GetValue() const;
    // Rounded half up.
    int GetValueInt() const;
    void SetValue(double value);

    // True once the sensor has given no valid reading for SensorHealth::kFailAfterMsecs, until
    // it has read well again for SensorHealth::kRecoverAfterMsecs. Its value is then stale.
    bool isFailed() const;
    // Since when a failed sensor has had no valid reading (milliseconds since the epoch).
    qint64 failedSinceMsecs() const;
    // Records the outcome of one read at nNowMsecs; true when the failed state changed.
    bool noteReading(bool bValid, qint64 nNowMsecs);

    // Looks the key up in the sensor table for this machine: on a match writes the display
    // name into name and returns true, otherwise leaves name alone and returns false.
    static bool IsSensorSupported(const QString& key, QString& name);
    // The same lookup for the given machine.
    static bool IsSensorSupported(const MachineFacts& machine, const QString& key, QString& name);
    // This machine's facts, taken once per process from the registered machine information
    // (defaults when none is registered at the first call).
    static MachineFacts machineFacts();
    // Position of the first sensor-table row for key (whatever the machine), or -1: tools that
    // pick "the first processor sensor" go by this order.
    static int tableRow(const QString& key);

protected:
    QString m_Key;
    QString m_DisplayName;
    double m_Value = 0.0;
    SensorHealth m_Health;
    mutable std::mutex m_Mutex; // guards m_Value and m_Health
};

// One SMC temperature reading through the fan controller, in degrees Celsius, or -1.0 when
// the key cannot be read or reads out of range. The one place where a sensor reaches the SMC.
double readSmcSensorTemperature(QFanControl* pController, const QByteArray& key);
