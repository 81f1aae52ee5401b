#include "core/drives/mac/QDriveSourceIOKit.h"

#include "core/drives/DriveDataUtils.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOCFPlugIn.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/storage/ata/ATASMARTLib.h>

#include <cerrno>
#include <cstring>

using namespace DriveDataUtils;

namespace {

bool is_smart_capable(io_object_t service)
{
    CFTypeRef pSmart =
        IORegistryEntryCreateCFProperty(service, CFSTR("SMART Capable"), kCFAllocatorDefault, 0);
    if (pSmart) {
        CFRelease(pSmart);
        return true;
    }
    if (!IOObjectConformsTo(service, "IOATABlockStorageDevice"))
        return false;
    auto pCharacteristics = static_cast<CFDictionaryRef>(IORegistryEntryCreateCFProperty(
        service, CFSTR("Device Characteristics"), kCFAllocatorDefault, 0));
    if (!pCharacteristics)
        return false;
    bool bCapable = false;
    const void* pFeatures = nullptr;
    long nFeatures = 0;
    // The value belongs to the dictionary: only the dictionary is released.
    if (CFDictionaryGetValueIfPresent(pCharacteristics, CFSTR("ATA Features"), &pFeatures) &&
        CFNumberGetValue(static_cast<CFNumberRef>(pFeatures), kCFNumberLongType, &nFeatures))
        bCapable = (nFeatures & 0x20) != 0;
    CFRelease(pCharacteristics);
    return bCapable;
}

// The BSD name a device path stands for; empty when the path is a registry path.
QByteArray bsdName(const QByteArray& path)
{
    if (path.startsWith("/dev/rdisk"))
        return path.mid(6);
    if (path.startsWith("/dev/disk"))
        return path.mid(5);
    if (path.startsWith("disk"))
        return path;
    return QByteArray();
}

// The SMART interface of an opened drive, created for one operation and released after it.
class QSmartInterface
{
public:
    explicit QSmartInterface(io_object_t service)
    {
        SInt32 nScore = 0;
        if (IOCreatePlugInInterfaceForService(service, kIOATASMARTUserClientTypeID,
                                              kIOCFPlugInInterfaceID, &m_ppPlugIn,
                                              &nScore) != kIOReturnSuccess)
            m_ppPlugIn = nullptr;
        if (m_ppPlugIn)
            (*m_ppPlugIn)
                ->QueryInterface(m_ppPlugIn, CFUUIDGetUUIDBytes(kIOATASMARTInterfaceID),
                                 reinterpret_cast<LPVOID*>(&m_ppSmart));
    }
    ~QSmartInterface()
    {
        if (m_ppSmart)
            (*m_ppSmart)->Release(m_ppSmart);
        if (m_ppPlugIn)
            IODestroyPlugInInterface(m_ppPlugIn);
    }
    IOATASMARTInterface** get() const { return m_ppSmart; }

private:
    IOCFPlugInInterface** m_ppPlugIn = nullptr;
    IOATASMARTInterface** m_ppSmart = nullptr;
};

class QIOKitDriveHandle : public QDriveHandle
{
public:
    explicit QIOKitDriveHandle(io_object_t service) : m_Service(service) {}
    ~QIOKitDriveHandle() override { IOObjectRelease(m_Service); }

    uint32_t identify(QByteArray& block) override
    {
        QSmartInterface smart(m_Service);
        if (!smart.get())
            return kDriveNoDevice;
        block = QByteArray(kBlockSize, '\0');
        UInt32 nBytes = 0;
        return static_cast<uint32_t>(
            (*smart.get())->GetATAIdentifyData(smart.get(), block.data(), kBlockSize, &nBytes));
    }
    uint32_t enableSmart() override
    {
        QSmartInterface smart(m_Service);
        if (!smart.get())
            return kDriveNoDevice;
        return static_cast<uint32_t>(
            (*smart.get())->SMARTEnableDisableOperations(smart.get(), true));
    }
    uint32_t readSmartData(QByteArray& block) override
    {
        QSmartInterface smart(m_Service);
        if (!smart.get())
            return kDriveNoDevice;
        ATASMARTData data;
        std::memset(&data, 0, sizeof data);
        const IOReturn nResult = (*smart.get())->SMARTReadData(smart.get(), &data);
        block = QByteArray(reinterpret_cast<const char*>(&data), sizeof data);
        return static_cast<uint32_t>(nResult);
    }

private:
    io_object_t m_Service;
};

} // namespace

int QDriveSourceIOKit::deviceNames(QStringList& names)
{
    io_iterator_t iterator = 0;
    if (IOServiceGetMatchingServices(kIOMasterPortDefault,
                                     IOServiceMatching("IOBlockStorageDevice"),
                                     &iterator) != kIOReturnSuccess)
        return -1;
    while (io_object_t service = IOIteratorNext(iterator)) {
        io_string_t path;
        if (is_smart_capable(service) &&
            IORegistryEntryGetPath(service, kIOServicePlane, path) == kIOReturnSuccess)
            names << QString::fromUtf8(path);
        IOObjectRelease(service);
    }
    IOObjectRelease(iterator);
    return names.size();
}

QDriveHandle* QDriveSourceIOKit::open(const QString& name, int* pErrno)
{
    const QByteArray path = name.toUtf8();
    const QByteArray bsd = bsdName(path);
    io_object_t service = bsd.isEmpty()
                              ? IORegistryEntryFromPath(kIOMasterPortDefault, path.constData())
                              : IOServiceGetMatchingService(
                                    kIOMasterPortDefault,
                                    IOBSDNameMatching(kIOMasterPortDefault, 0, bsd.constData()));
    if (!service) {
        *pErrno = ENOENT;
        return nullptr;
    }
    // Up through the parents to the entry that speaks SMART.
    while (!is_smart_capable(service)) {
        io_object_t parent = 0;
        if (IORegistryEntryGetParentEntry(service, kIOServicePlane, &parent) != kIOReturnSuccess) {
            IOObjectRelease(service);
            *pErrno = ENODEV;
            return nullptr;
        }
        IOObjectRelease(service);
        service = parent;
    }
    return new QIOKitDriveHandle(service);
}
