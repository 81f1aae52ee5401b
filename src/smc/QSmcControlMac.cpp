#include "smc/QSmcControlMac.h"

#include "QsLog/QsLog.h"
#include "smc/SmcToolUtils.h"
#include "smc/SmcValueUtils.h"

#include <algorithm>
#include <cstring>

using namespace SmcValueUtils;

namespace {
// Keys travel as NUL-terminated text; never read past the terminator of a short one.
uint32_t packKey(const char* key)
{
    char chars[4] = {0, 0, 0, 0};
    if (key)
        memcpy(chars, key, qstrnlen(key, 4));
    return _strtoul(chars, 4);
}

QString keyText(const char* key)
{
    return key ? QString::fromLatin1(key, static_cast<int>(qstrnlen(key, 4))) : QString();
}
} // namespace

QSmcControlMac::QSmcControlMac(QSmcTransport* pTransport) : m_pTransport(pTransport)
{}

// The connection stays open for the life of the process; nothing beyond the base is released.
QSmcControlMac::~QSmcControlMac() = default;

bool QSmcControlMac::Open()
{
    return m_pTransport && m_pTransport->open();
}

void QSmcControlMac::Close()
{
    if (m_pTransport)
        m_pTransport->close();
}

QString QSmcControlMac::machineModel()
{
    return m_pTransport ? m_pTransport->machineModel() : QString();
}

int QSmcControlMac::SMCCall(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    if (!m_pTransport)
        return kIOReturnNotFound;
    memset(&output, 0, sizeof(output));
    return m_pTransport->call(selector, input, output);
}

int QSmcControlMac::SMCReadKey(const char* key, SMCVal_t* pVal)
{
    memset(pVal, 0, sizeof(*pVal));

    SMCKeyData_t input;
    SMCKeyData_t output;
    memset(&input, 0, sizeof(input));
    input.key = packKey(key);
    input.command = SmcCmdReadKeyInfo;
    int nResult = SMCCall(kSmcMethodSelector, input, output);
    if (nResult != kIOReturnSuccess)
        return nResult;

    _ultostr(pVal->key, input.key);
    pVal->dataSize = output.dataSize;
    _ultostr(pVal->dataType, output.dataType);

    input.dataSize = pVal->dataSize;
    input.command = SmcCmdReadBytes;
    nResult = SMCCall(kSmcMethodSelector, input, output);
    if (nResult != kIOReturnSuccess)
        return nResult;

    memcpy(pVal->bytes, output.bytes, sizeof(pVal->bytes));
    return kIOReturnSuccess;
}

int QSmcControlMac::OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size)
{
    SMCVal_t val;
    if (SMCReadKey(key, &val) != kIOReturnSuccess)
        return -1;
    // A service answering a size beyond the value buffer is cut to what the call carries.
    const size_t nCopy = std::min<size_t>({size, val.dataSize, sizeof(val.bytes)});
    memcpy(buffer, val.bytes, nCopy);
    return 0;
}

int QSmcControlMac::OS_GetKeyInfoByIndex(int index, applesmc_entry* entry)
{
    SMCKeyData_t input;
    SMCKeyData_t output;
    memset(&input, 0, sizeof(input));
    input.command = SmcCmdReadIndex;
    input.index = static_cast<uint32_t>(index);
    int nResult = SMCCall(kSmcMethodSelector, input, output);
    char key[5];
    _ultostr(key, output.key);
    if (nResult != kIOReturnSuccess)
        return -1;

    input.key = _strtoul(key, 4);
    input.command = SmcCmdReadKeyInfo;
    nResult = SMCCall(kSmcMethodSelector, input, output);
    if (nResult != kIOReturnSuccess)
        return nResult;

    memcpy(entry->key, key, 4);
    entry->dataSize = static_cast<uint8_t>(output.dataSize & 0xFF);
    _ultostr(entry->dataType, output.dataType);
    entry->attributes = output.dataAttributes;
    entry->valid = 1;
    return 0;
}

int QSmcControlMac::OS_WriteKey(const char* key, const unsigned char* buffer, unsigned char size)
{
    const QString value = toHex(buffer, size);
    if (m_Writer)
        m_Writer(keyText(key), value);
    else
        setKey_external(keyText(key), value);
    return 0;
}

int QSmcControlMac::SMCWriteKey(const SMCVal_t& value)
{
    SMCVal_t current;
    int nResult = SMCReadKey(value.key, &current);
    if (nResult != kIOReturnSuccess)
        return nResult;
    if (current.dataSize != value.dataSize)
        return kIOReturnError;

    SMCKeyData_t input;
    SMCKeyData_t output;
    memset(&input, 0, sizeof(input));
    input.key = packKey(value.key);
    input.command = SmcCmdWriteBytes;
    input.dataSize = value.dataSize;
    memcpy(input.bytes, value.bytes, sizeof(input.bytes));
    return SMCCall(kSmcMethodSelector, input, output);
}

void QSmcControlMac::setWriter(const Writer& writer)
{
    m_Writer = writer;
}

void QSmcControlMac::useDirectWrites()
{
    m_Writer = [this](const QString& key, const QString& value) {
        QByteArray bytes;
        QString error;
        if (!parseHex(value.toLatin1(), &bytes, &error)) {
            QLOG_DEBUG() << "direct SMC write refused:" << qUtf8Printable(error);
            return;
        }
        SMCVal_t val;
        memset(&val, 0, sizeof(val));
        memcpy(val.key, key.toLatin1().constData(), qMin(4, key.size()));
        val.dataSize = static_cast<uint32_t>(bytes.size());
        memcpy(val.bytes, bytes.constData(), static_cast<size_t>(bytes.size()));
        const int nResult = SMCWriteKey(val);
        if (nResult != kIOReturnSuccess) {
            QLOG_DEBUG() << "direct SMC write of" << qUtf8Printable(key) << "failed:" << nResult;
        }
    };
}
