#pragma once

#include "smc/SmcKeyData.h"

// One structure-method call into the SMC service, in plain C++: the set-user-ID key-writing
// tool speaks the protocol through it and links nothing but the C and C++ runtime.
class QSmcCallTransport
{
public:
    virtual ~QSmcCallTransport() = default;

    // Connects to the service; false when there is none. Diagnostics go to standard output.
    virtual bool open() = 0;
    virtual void close() = 0;

    // One call: 80 bytes in, 80 bytes out. Returns 0 on success, an IOKit-style code otherwise.
    virtual int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) = 0;
};
