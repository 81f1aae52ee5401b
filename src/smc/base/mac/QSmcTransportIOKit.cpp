#include "smc/base/mac/QSmcTransportIOKit.h"

#include <cstdio>

int QSmcTransportIOKit::SMCOpen(io_connect_t* pConnection)
{
    mach_port_t masterPort;
    IOMasterPort(MACH_PORT_NULL, &masterPort);

    CFMutableDictionaryRef matching = IOServiceMatching("AppleSMC");
    io_iterator_t iterator = 0;
    kern_return_t result = IOServiceGetMatchingServices(masterPort, matching, &iterator);
    if (result != kIOReturnSuccess) {
        printf("Error: IOServiceGetMatchingServices() = %08x\n", result);
        return 1;
    }

    io_object_t device = IOIteratorNext(iterator);
    IOObjectRelease(iterator);
    if (device == 0) {
        printf("Error: no SMC found\n");
        return 1;
    }

    result = IOServiceOpen(device, mach_task_self(), 0, pConnection);
    IOObjectRelease(device);
    if (result != kIOReturnSuccess) {
        printf("Error: IOServiceOpen() = %08x\n", result);
        return 1;
    }
    return 0;
}

bool QSmcTransportIOKit::open()
{
    return SMCOpen(&m_Connection) == 0;
}

void QSmcTransportIOKit::close()
{
    if (m_Connection != 0) {
        IOServiceClose(m_Connection);
        m_Connection = 0;
    }
}

int QSmcTransportIOKit::call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    size_t outputSize = sizeof(SMCKeyData_t);
    return IOConnectCallStructMethod(m_Connection, selector, &input, sizeof(SMCKeyData_t), &output,
                                     &outputSize);
}
