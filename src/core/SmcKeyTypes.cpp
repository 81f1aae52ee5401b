#include "core/SmcKeyTypes.h"

#include "smc/base/SmcCodecUtils.h"
#include "smc/smc.h"

QSmcKeyTypes::Entry QSmcKeyTypes::lookUp(const QByteArray& key)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        const auto it = m_Cache.constFind(key);
        if (it != m_Cache.constEnd())
            return it.value();
    }
    Entry entry;
    applesmc_entry record{};
    if (m_pSmc && m_pSmc->keyInfo(key.constData(), &record) && record.dataSize > 0 &&
        record.dataSize <= SmcCodecUtils::kMaxValueSize) {
        entry.bKnown = true;
        entry.type.code = std::string(record.dataType, 4);
        entry.type.nSize = record.dataSize;
    }
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Cache.insert(key, entry);
    return entry;
}

QSmcKeyTypes::Type QSmcKeyTypes::typeOf(const QByteArray& key, const Type& fallback)
{
    const Entry entry = lookUp(key);
    return entry.bKnown ? entry.type : fallback;
}

bool QSmcKeyTypes::has(const QByteArray& key)
{
    return lookUp(key).bKnown;
}
