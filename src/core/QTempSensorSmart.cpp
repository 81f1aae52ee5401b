#include "core/QTempSensorSmart.h"

QVector<QTempSensorSmart*> QTempSensorSmart::LoadAvailableSensors()
{
    // Drive discovery is not built yet: no drive sensors.
    return QVector<QTempSensorSmart*>();
}

QTempSensorSmart::QTempSensorSmart(unsigned int nDeviceIndex) : m_DeviceIndex(nDeviceIndex)
{}

QTempSensorSmart::~QTempSensorSmart() = default;

void QTempSensorSmart::setKey(const QString& key)
{
    m_Key = key;
    m_DisplayName = key;
}

FanType QTempSensorSmart::GetFanType()
{
    return m_bSSD ? FanTypeSolidStateDrive : FanTypeHardDrive;
}

bool QTempSensorSmart::isHDD()
{
    return true;
}

int QTempSensorSmart::GetProposedMin()
{
    return m_ProposedMin;
}

int QTempSensorSmart::GetProposedMax()
{
    return m_ProposedMax;
}

void QTempSensorSmart::UpdateValue(QFanControl* /*pController*/)
{
    // Without drive access there is nothing to read; the last value stays.
}
