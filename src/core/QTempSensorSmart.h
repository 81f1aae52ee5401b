#pragma once

#include "core/QTempSensor.h"
#include "core/drives/DriveDataUtils.h"

#include <QStringList>
#include <QVector>

class QDriveHandle;

// The temperature of one SMART-capable drive, hard disk or solid-state, from whichever drive
// source is current (QDriveSource). The drive's model name is both key and display name.
class QTempSensorSmart : public QTempSensor
{
public:
    // Drives open at once; the drive after the last slot is listed but cannot be read.
    static constexpr int kMaxDevices = 20;

    // The drives found, one new sensor each, owned by the caller. A drive that cannot be
    // opened or identified still gets a sensor, with an empty name.
    static QVector<QTempSensorSmart*> LoadAvailableSensors();

    // nDeviceIndex: the drive's position in the discovered list.
    explicit QTempSensorSmart(unsigned int nDeviceIndex);
    // Closes the drive and frees its slot.
    ~QTempSensorSmart() override;

    // Key and display name become the same text; drives are not in the SMC sensor table.
    void setKey(const QString& key) override;
    FanType GetFanType() override;
    bool isHDD() override;
    int GetProposedMin() override;
    int GetProposedMax() override;
    // Reads the drive's SMART data now; the controller is not needed.
    void UpdateValue(QFanControl* pController) override;
    // Takes the value (raw[0]) and the proposed range (raw[4]) from one attribute record; false
    // when the record holds no reading.
    bool readSmartTemperatures(const DriveDataUtils::_DRIVEATTRIBUTE* pRecord);

    bool isSSD() const { return m_bSSD; }
    unsigned int deviceIndex() const { return m_DeviceIndex; }
    int slot() const { return m_nSlot; }

protected:
    // One SMART read; true when it gave a temperature.
    bool readDrive();

    bool m_bSSD = false;
    quint32 m_DeviceIndex;
    qint32 m_ProposedMax = 52;
    qint32 m_ProposedMin = 42;
    int m_nSlot = -1; // the open-device slot this sensor's drive holds; -1 none

    friend void readDriveIDInfo(const QByteArray& data, QTempSensorSmart* pSensor);
};

// The SMART-capable drives of the current source; 0 for a type other than "ATA", -1 when the
// source fails.
int make_device_names(QStringList* pNames, const char* type);
// Opens a drive into the first free slot; the slot, or -1 with errno set (EINVAL for a type
// other than "ATA", EMFILE when every slot is taken, or the source's reason).
int deviceopen(const char* path, const char* type);
void deviceclose(int nSlot);
// Names the sensor after the drive's model and marks a solid-state drive.
void readDriveIDInfo(const QByteArray& data, QTempSensorSmart* pSensor);
