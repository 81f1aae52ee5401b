#pragma once

#include "core/QTempSensor.h"

#include <QVector>

// The temperature of one SMART-capable ATA drive, hard disk or solid-state. The drive's model
// name is both key and display name. Reading the drives themselves is not built yet: discovery
// finds no drive, so no sensor of this class is ever created.
class QTempSensorSmart : public QTempSensor
{
public:
    // The drives found, one new sensor each, owned by the caller.
    static QVector<QTempSensorSmart*> LoadAvailableSensors();

    // nDeviceIndex: the drive's position in the discovered list.
    explicit QTempSensorSmart(unsigned int nDeviceIndex);
    ~QTempSensorSmart() override;

    // Key and display name become the same text; drives are not in the SMC sensor table.
    void setKey(const QString& key) override;
    FanType GetFanType() override;
    bool isHDD() override;
    int GetProposedMin() override;
    int GetProposedMax() override;
    // Drives are read directly, not through the controller.
    void UpdateValue(QFanControl* pController) override;

    bool isSSD() const { return m_bSSD; }
    unsigned int deviceIndex() const { return m_DeviceIndex; }

protected:
    bool m_bSSD = false;
    quint32 m_DeviceIndex;
    qint32 m_ProposedMax = 52;
    qint32 m_ProposedMin = 42;
};
