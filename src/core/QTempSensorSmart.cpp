#include "core/QTempSensorSmart.h"
#include "core/FanControl.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"

#include "core/drives/QDriveSource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

using namespace DriveDataUtils;

namespace {

// The open-device table. Written during discovery and by destructors, read by the update
// worker; the lock is held only to look a slot up, never across a drive call.
std::mutex g_DevicesMutex;
std::shared_ptr<QDriveHandle> g_Devices[QTempSensorSmart::kMaxDevices];

std::shared_ptr<QDriveHandle> deviceAt(int nSlot)
{
    if (nSlot < 0 || nSlot >= QTempSensorSmart::kMaxDevices)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_DevicesMutex);
    return g_Devices[nSlot];
}

bool isAtaType(const char* type)
{
    return type && std::strcmp(type, "ATA") == 0;
}

// Identification errors the drive recovers from: its data is used all the same.
bool identifyUsable(uint32_t nResult)
{
    return nResult == kDriveSuccess || nResult == kDriveTimeout || nResult == kDriveNotResponding;
}

} // namespace

int make_device_names(QStringList* pNames, const char* type)
{
    pNames->clear();
    if (!isAtaType(type))
        return 0;
    return QDriveSource::instance()->deviceNames(*pNames);
}

int deviceopen(const char* path, const char* type)
{
    if (!isAtaType(type)) {
        errno = EINVAL;
        return -1;
    }
    int nSlot = -1;
    {
        std::lock_guard<std::mutex> lock(g_DevicesMutex);
        for (int i = 0; i < QTempSensorSmart::kMaxDevices && nSlot < 0; ++i) {
            if (!g_Devices[i])
                nSlot = i;
        }
    }
    if (nSlot < 0) {
        errno = EMFILE;
        return -1;
    }
    int nErrno = ENODEV;
    QDriveHandle* pHandle = QDriveSource::instance()->open(QString::fromLocal8Bit(path), &nErrno);
    if (!pHandle) {
        errno = nErrno;
        return -1;
    }
    std::lock_guard<std::mutex> lock(g_DevicesMutex);
    g_Devices[nSlot].reset(pHandle);
    return nSlot;
}

void deviceclose(int nSlot)
{
    std::shared_ptr<QDriveHandle> pHandle;
    if (nSlot < 0 || nSlot >= QTempSensorSmart::kMaxDevices)
        return;
    std::lock_guard<std::mutex> lock(g_DevicesMutex);
    pHandle.swap(g_Devices[nSlot]); // closed outside the lock, once no reader holds it
}

void readDriveIDInfo(const QByteArray& data, QTempSensorSmart* pSensor)
{
    DriveIdentity identity;
    if (!parseIdentify(data, identity))
        return; // a short block names nothing: the sensor stays nameless
    if (identity.nRotationRate == 1)
        pSensor->m_bSSD = true;
    pSensor->setKey(identity.model);
}

QVector<QTempSensorSmart*> QTempSensorSmart::LoadAvailableSensors()
{
    QVector<QTempSensorSmart*> sensors;
    QStringList names;
    if (make_device_names(&names, "ATA") <= 0)
        return sensors;
    for (int i = 0; i < names.size(); ++i) {
        auto* pSensor = new QTempSensorSmart(static_cast<unsigned int>(i));
        const int nSlot = deviceopen(names.at(i).toLocal8Bit().constData(), "ATA");
        // The sensor keeps the slot it got rather than assuming its list position: a drive
        // in the middle that fails to open must not shift the others onto wrong slots.
        pSensor->m_nSlot = nSlot;
        if (const std::shared_ptr<QDriveHandle> pHandle = deviceAt(nSlot)) {
            QByteArray block;
            const uint32_t nResult = pHandle->identify(block);
            if (identifyUsable(nResult)) {
                readDriveIDInfo(block, pSensor);
            } else {
                std::printf("identify failed: %#x\n", nResult);
                std::fflush(stdout);
            }
        }
        sensors.append(pSensor);
    }
    return sensors;
}

QTempSensorSmart::QTempSensorSmart(unsigned int nDeviceIndex) : m_DeviceIndex(nDeviceIndex)
{}

QTempSensorSmart::~QTempSensorSmart()
{
    deviceclose(m_nSlot);
}

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
    std::lock_guard<std::mutex> lock(m_Mutex); // written by the update pass
    return m_ProposedMin;
}

int QTempSensorSmart::GetProposedMax()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_ProposedMax;
}

void QTempSensorSmart::UpdateValue(QFanControl* pController)
{
    const QClock* pClock = pController ? pController->clock() : QCoreServices::clock();
    noteReading(readDrive(), pClock->msecsSinceEpoch());
}

bool QTempSensorSmart::readDrive()
{
    if (m_DeviceIndex >= static_cast<quint32>(kMaxDevices))
        return false;
    const std::shared_ptr<QDriveHandle> pHandle = deviceAt(m_nSlot);
    if (!pHandle || pHandle->enableSmart() != kDriveSuccess)
        return false;
    QByteArray block;
    if (pHandle->readSmartData(block) != kDriveSuccess)
        return false;
    _DRIVEATTRIBUTE record;
    return findTemperatureAttribute(block, record) && readSmartTemperatures(&record);
}

bool QTempSensorSmart::readSmartTemperatures(const _DRIVEATTRIBUTE* pRecord)
{
    const int nCurrent = pRecord->bRawValue[0];
    if (!isPlausibleCelsius(nCurrent))
        return false;
    SetValue(nCurrent);
    // raw[4] is the drive's own limit on many disks, but others keep their lowest or lifetime
    // reading there, which would propose a range below the drive's present temperature. Only a
    // raw[4] above the current reading sets the range; otherwise the range stays as it was
    // (42 to 52 unless an earlier reading set it).
    const int nLimit = pRecord->bRawValue[4];
    if (nLimit > nCurrent && isPlausibleCelsius(nLimit)) {
        std::lock_guard<std::mutex> lock(m_Mutex); // the fan dialog reads the range
        m_ProposedMax = nLimit;
        m_ProposedMin = nLimit - 10;
    }
    return true;
}
