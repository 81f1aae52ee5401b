#pragma once

#include "core/drives/QDriveSource.h"

// The drives of a Mac: every block-storage device in the IOKit registry that is SMART-capable,
// read through the ATA SMART plug-in. Names are registry paths in the "IOService" plane; a
// "/dev/diskN", "/dev/rdiskN" or "diskN" name is looked up by its BSD name.
class QDriveSourceIOKit : public QDriveSource
{
public:
    int deviceNames(QStringList& names) override;
    QDriveHandle* open(const QString& name, int* pErrno) override;
};
