#pragma once

#include "smc/base/QSmcCallTransport.h"

#include <IOKit/IOKitLib.h>

// The kernel's "AppleSMC" user client: one IOConnectCallStructMethod per call.
class QSmcTransportIOKit : public QSmcCallTransport
{
public:
    QSmcTransportIOKit() = default;
    ~QSmcTransportIOKit() override = default;

    bool open() override;
    void close() override;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override;

    // Looks up the service and opens a connection of type 0 into *pConnection; 0 on success,
    // 1 on failure with a diagnostic on standard output.
    static int SMCOpen(io_connect_t* pConnection);

private:
    io_connect_t m_Connection = 0; // 0 when not open
};
