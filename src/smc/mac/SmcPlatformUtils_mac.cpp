#include "smc/SmcPlatformUtils.h"

#include "smc/QSmcControlMac.h"
#include "smc/base/mac/QSmcTransportIOKit.h"

QSmcControl* SmcPlatformUtils::createControl()
{
    return new QSmcControlMac(new QSmcTransportIOKit());
}
