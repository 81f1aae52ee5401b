#pragma once

#include "smc/SmcKeyData.h"

#include <QString>

// One structure-method call into the SMC service. The protocol code (QSmcControlMac) is written
// against this, so it runs unchanged over IOKit on a Mac, over a local socket to the simulator
// daemon, and against an in-process simulator in tests.
class QSmcTransport
{
public:
    virtual ~QSmcTransport() = default;

    // Connects to the service; false when there is none. Diagnostics go to standard output.
    virtual bool open() = 0;
    virtual void close() = 0;

    // One call: 80 bytes in, 80 bytes out. Returns 0 on success, an IOKit-style code otherwise.
    virtual int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) = 0;

    // The model identifier of the machine behind the service, where the service can tell
    // (the simulator reports its profile's); empty otherwise.
    virtual QString machineModel() { return QString(); }
};
