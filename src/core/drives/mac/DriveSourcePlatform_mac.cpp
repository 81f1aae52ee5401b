#include "core/drives/QDriveSource.h"
#include "core/drives/mac/QDriveSourceIOKit.h"

QDriveSource* createPlatformDriveSource()
{
    return new QDriveSourceIOKit();
}
