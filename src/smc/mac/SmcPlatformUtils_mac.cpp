#include "smc/SmcPlatformUtils.h"

#include "smc/QSmcControlMac.h"
#include "smc/mac/QSmcTransportIOKit.h"

QSmcControl* SmcPlatformUtils::createControl()
{
    return new QSmcControlMac(new QSmcTransportIOKit());
}
