#include "smc/QSmcControlMac.h"

#include "QsLog/QsLog.h"
#include "smc/SmcToolUtils.h"
#include "smc/SmcValueUtils.h"
#include "smc/base/SmcProtocolUtils.h"

#include <algorithm>
#include <cstring>

using namespace SmcValueUtils;

namespace {
QString keyText(const char* key)
{
    return key ? QString::fromLatin1(key, static_cast<int>(qstrnlen(key, 4))) : QString();
}
} // namespace

QSmcControlMac::QSmcControlMac(QSmcCallTransport* pTransport) : m_pTransport(pTransport)
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
    // Only the program's transports can tell; the tool's plain ones cannot.
    auto* pTransport = dynamic_cast<QSmcTransport*>(m_pTransport.get());
    return pTransport ? pTransport->machineModel() : QString();
}

int QSmcControlMac::SMCCall(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    if (!m_pTransport)
        return kSmcReturnNotFound;
    memset(&output, 0, sizeof(output));
    return m_pTransport->call(selector, input, output);
}

int QSmcControlMac::SMCReadKey(const char* key, SMCVal_t* pVal)
{
    return SmcProtocolUtils::readKey(m_pTransport.get(), key, pVal);
}

int QSmcControlMac::OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size)
{
    SMCVal_t val;
    if (SMCReadKey(key, &val) != kSmcReturnSuccess)
        return -1;
    // A service answering a size beyond the value buffer is cut to what the call carries.
    const size_t nCopy = std::min<size_t>({size, val.dataSize, sizeof(val.bytes)});
    memcpy(buffer, val.bytes, nCopy);
    return 0;
}

int QSmcControlMac::OS_GetKeyInfo(const char* key, applesmc_entry* entry)
{
    return SmcProtocolUtils::keyInfo(m_pTransport.get(), key, entry) == kSmcReturnSuccess ? 0 : -1;
}

int QSmcControlMac::OS_GetKeyInfoByIndex(int index, applesmc_entry* entry)
{
    return SmcProtocolUtils::keyInfoByIndex(m_pTransport.get(), index, entry);
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
    return SmcProtocolUtils::writeKey(m_pTransport.get(), value);
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
        if (nResult != kSmcReturnSuccess) {
            QLOG_DEBUG() << "direct SMC write of" << qUtf8Printable(key) << "failed:" << nResult;
        }
    };
}
