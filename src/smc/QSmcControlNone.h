#pragma once

#include "smc/smc.h"

// The backend of a machine without an SMC service: Open() explains why and fails, every other
// operation fails, so start-up stops with its SMC error message.
class QSmcControlNone : public QSmcControl
{
public:
    explicit QSmcControlNone(const QString& reason);

    bool Open() override;
    void Close() override {}
    int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) override;
    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override;
    int OS_WriteKey(const char* key, const unsigned char* buffer, unsigned char size) override;

private:
    QString m_Reason;
};
