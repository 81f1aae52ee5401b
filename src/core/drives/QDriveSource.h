#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// One opened drive. Calls come from the initial-load thread (identify) and from the update
// thread (SMART data), never at once for the same drive.
class QDriveHandle
{
public:
    virtual ~QDriveHandle() = default;

    // The drive's 512 bytes of ATA IDENTIFY DEVICE data; a drive return code
    // (DriveDataUtils::kDriveSuccess or an error).
    virtual uint32_t identify(QByteArray& block) = 0;
    // Turns SMART operations on; only on success does the caller read the data.
    virtual uint32_t enableSmart() = 0;
    // The drive's 512 bytes of SMART READ DATA.
    virtual uint32_t readSmartData(QByteArray& block) = 0;
};

// Where the drives come from: the block-storage registry on a Mac, the kernel on Linux, or the
// simulator. One source is current per process (instance()); tools and tests install theirs.
class QDriveSource
{
public:
    virtual ~QDriveSource() = default;

    // The SMART-capable drives, in a stable order; -1 when the source cannot be asked.
    virtual int deviceNames(QStringList& names) = 0;
    // Opens the drive of that name; null with *pErrno set (ENOENT, ENODEV...) when it cannot.
    virtual QDriveHandle* open(const QString& name, int* pErrno) = 0;

    // The current source; the platform's own one is created on first use.
    static QDriveSource* instance();
    // Installs a source (takes ownership, destroys the previous one); null goes back to the
    // platform's own source at the next instance() call. Not while drives are being read.
    static void setInstance(QDriveSource* pSource);
};

// The platform's own source (linux/ or mac/).
QDriveSource* createPlatformDriveSource();
