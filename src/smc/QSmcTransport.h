#pragma once

#include "smc/base/QSmcCallTransport.h"

#include <QString>

// The program's view of the SMC service. The protocol code (QSmcControlMac) is written against
// the call alone, so it runs unchanged over IOKit on a Mac, over a local socket to the simulator
// daemon, and against an in-process simulator in tests.
class QSmcTransport : public QSmcCallTransport
{
public:
    // The model identifier of the machine behind the service, where the service can tell
    // (the simulator reports its profile's); empty otherwise.
    virtual QString machineModel() { return QString(); }
};
