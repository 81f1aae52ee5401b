#pragma once

#include "smc/QSmcTransport.h"
#include "smc/smc.h"

#include <functional>
#include <memory>

// The AppleSMC protocol over one structure-method call per step. Reads and key enumeration go
// straight to the service; writes are formatted as hexadecimal text and handed to a writer,
// by default the set-user-ID key-writing tool, because the program itself may not write.
// SMCWriteKey is the direct write that such a tool performs.
class QSmcControlMac : public QSmcControl
{
public:
    // Receives the key and the value as lower-case hexadecimal text.
    using Writer = std::function<void(const QString& key, const QString& value)>;

    // Takes ownership of the transport.
    explicit QSmcControlMac(QSmcCallTransport* pTransport);
    ~QSmcControlMac() override;

    bool Open() override;
    void Close() override;
    int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) override;
    int OS_GetKeyInfo(const char* key, applesmc_entry* entry) override;
    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override;
    // Always 0: a write that fails is not noticed by the program.
    int OS_WriteKey(const char* key, const unsigned char* buffer, unsigned char size) override;

    QString machineModel() override;
    // True unless a writer of its own replaces the tool.
    bool writesThroughTool() const override { return !m_Writer; }

    // One call with the given selector; 0 on success, the transport's code otherwise.
    int SMCCall(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output);
    // Key information, then the value; 0 on success. Only the call results are examined.
    int SMCReadKey(const char* key, SMCVal_t* pVal);
    // Reads the key first; a size other than value.dataSize answers kSmcReturnError and
    // writes nothing. Otherwise the write call's code.
    int SMCWriteKey(const SMCVal_t& value);

    // Replaces the writer; an empty one restores the key-writing tool. Set it before any
    // thread writes.
    void setWriter(const Writer& writer);
    // Writes go through SMCWriteKey on this backend's own transport (the caller has the rights
    // the service wants, or the service is a simulation).
    void useDirectWrites();

    QSmcCallTransport* transport() const { return m_pTransport.get(); }

private:
    std::unique_ptr<QSmcCallTransport> m_pTransport;
    Writer m_Writer;
};
