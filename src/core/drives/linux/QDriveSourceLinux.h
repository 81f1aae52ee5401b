#pragma once

#include "core/drives/QDriveSource.h"

// The drives of a Linux machine. A disk whose device node the process may open is asked
// directly (ATA PASS-THROUGH through SG_IO: IDENTIFY DEVICE, SMART ENABLE OPERATIONS, SMART
// READ DATA). Otherwise the kernel's own drive sensors are used, which need no rights: the
// hwmon devices named "drivetemp" (ATA disks) and "nvme", with the model from sysfs; their
// readings are handed on as the same blocks a drive would send. The roots are parameters so
// that tests can lay out their own trees.
class QDriveSourceLinux : public QDriveSource
{
public:
    explicit QDriveSourceLinux(const QString& sysRoot = QStringLiteral("/sys"),
                               const QString& devRoot = QStringLiteral("/dev"));

    // Directly readable disks ("<dev>/sdX") first, then kernel sensors
    // ("<sys>/class/hwmon/hwmonN") of disks not already listed.
    int deviceNames(QStringList& names) override;
    QDriveHandle* open(const QString& name, int* pErrno) override;

private:
    QString blockDeviceOfSensor(const QString& hwmonDir) const;

    QString m_SysRoot;
    QString m_DevRoot;
};
