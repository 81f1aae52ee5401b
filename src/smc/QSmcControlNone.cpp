#include "smc/QSmcControlNone.h"

#include <cstdio>

QSmcControlNone::QSmcControlNone(const QString& reason) : m_Reason(reason)
{}

bool QSmcControlNone::Open()
{
    // Open failures are reported on standard output, as the real backend does.
    printf("Error: no SMC found\n%s\n", qUtf8Printable(m_Reason));
    fflush(stdout);
    return false;
}

int QSmcControlNone::OS_GetKeyInfoByIndex(int, applesmc_entry*)
{
    return -1;
}

int QSmcControlNone::OS_ReadKey(const char*, unsigned char*, unsigned char)
{
    return -1;
}

int QSmcControlNone::OS_WriteKey(const char*, const unsigned char*, unsigned char)
{
    return 0; // writes are fire-and-forget, as with the real backend
}
