#include "smc/smc.h"
#include "smc/base/SmcCodecUtils.h"

#include "QsLog/QsLog.h"
#include "smc/SmcPlatformUtils.h"

#include <QtEndian>

#include <cstring>

namespace {
// "#KEY" values at or above this are not believed: the controller answered garbage.
constexpr quint32 kMaxKeyCount = 0x10000;

std::mutex g_InstanceMutex;
QSmcControl* g_pInstance = nullptr;
} // namespace

QSmcControl::QSmcControl() = default;

// Releases the cache; the backend connection is left to the backend (Close() is not called).
QSmcControl::~QSmcControl() = default;

QSmcControl* QSmcControl::instance()
{
    std::lock_guard<std::mutex> locker(g_InstanceMutex);
    if (!g_pInstance)
        g_pInstance = SmcPlatformUtils::createControl();
    return g_pInstance;
}

void QSmcControl::destroyInstance()
{
    std::lock_guard<std::mutex> locker(g_InstanceMutex);
    delete g_pInstance;
    g_pInstance = nullptr;
}

void QSmcControl::setInstance(QSmcControl* pControl)
{
    std::lock_guard<std::mutex> locker(g_InstanceMutex);
    if (g_pInstance != pControl)
        delete g_pInstance;
    g_pInstance = pControl;
}

int QSmcControl::ReadKey(const char* key, unsigned char* buffer, unsigned char size)
{
    std::lock_guard<std::mutex> locker(m_Mutex);
    return OS_ReadKey(key, buffer, size);
}

int QSmcControl::WriteKey(const char* key, const unsigned char* buffer, unsigned char size)
{
    std::lock_guard<std::mutex> locker(m_Mutex);
    return OS_WriteKey(key, buffer, size);
}

void QSmcControl::LoadRegisters()
{
    // A value shorter than four bytes leaves the rest of the field as it was, as for any read.
    quint32 raw = 0;
    int nResult;
    {
        std::lock_guard<std::mutex> locker(m_Mutex);
        raw = m_nKeyCount;
        nResult = OS_ReadKey("#KEY", reinterpret_cast<unsigned char*>(&raw), sizeof(raw));
    }

    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("LoadRegisters: %1, %2, %3").arg(raw).arg(qbswap(raw)).arg(nResult));

    if (nResult != 0)
        return; // nothing enumerated; count and cache stay as they were

    quint32 nCount = qFromBigEndian(raw);
    EntryCache pCache;
    if (nCount < kMaxKeyCount) {
        pCache = EntryCache::create(nCount, applesmc_entry{});
    } else {
        nCount = 0;
        QLOG_ERROR() << "LoadRegisters: unable to read value";
    }

    std::lock_guard<std::mutex> locker(m_Mutex);
    m_nKeyCount = nCount;
    m_pEntries = pCache;
}

QSmcControl::EntryCache QSmcControl::currentCache() const
{
    std::lock_guard<std::mutex> locker(m_Mutex);
    return m_pEntries;
}

// One record fetch under the mutex. A record is written only while it is not yet valid and
// only under the mutex, so once a caller has seen it valid it can read it without the lock.
bool QSmcControl::fetchEntry(const EntryCache& pCache, int index, applesmc_entry** ppRecord)
{
    *ppRecord = nullptr;
    if (!pCache || index < 0 || static_cast<size_t>(index) >= pCache->size())
        return false;

    std::lock_guard<std::mutex> locker(m_Mutex);
    applesmc_entry& record = (*pCache)[static_cast<size_t>(index)];
    if (!record.valid) {
        // Fetch into a scratch record so a failing backend cannot leave half a record behind.
        applesmc_entry fetched{};
        if (OS_GetKeyInfoByIndex(index, &fetched) != 0)
            return false;
        fetched.key[4] = '\0';
        fetched.dataType[4] = '\0';
        fetched.valid = 1;
        record = fetched;
    }
    *ppRecord = &record;
    return true;
}

applesmc_entry* QSmcControl::applesmc_get_entry_by_index(int index)
{
    applesmc_entry* pRecord = nullptr;
    fetchEntry(currentCache(), index, &pRecord);
    return pRecord;
}

bool QSmcControl::copyEntryByIndex(int index, applesmc_entry* pEntry)
{
    const EntryCache pCache = currentCache();
    applesmc_entry* pRecord = nullptr;
    if (!fetchEntry(pCache, index, &pRecord))
        return false;
    *pEntry = *pRecord;
    return true;
}

// Binary search over the key index, which the controller keeps sorted byte-wise.
int QSmcControl::lowerBound(const EntryCache& pCache, const char* key, unsigned int* lo)
{
    *lo = 0;
    unsigned int begin = 0;
    unsigned int end = pCache ? static_cast<unsigned int>(pCache->size()) : 0;
    while (begin != end) {
        const unsigned int middle = begin + (end - begin) / 2;
        applesmc_entry* pRecord = nullptr;
        if (!fetchEntry(pCache, static_cast<int>(middle), &pRecord))
            return -1;
        if (strcmp(pRecord->key, key) < 0)
            begin = middle + 1;
        else
            end = middle;
    }
    *lo = begin;
    return 0;
}

int QSmcControl::applesmc_get_lower_bound(unsigned int* lo, const char* key)
{
    return lowerBound(currentCache(), key, lo);
}

void QSmcControl::LoadTempSensors(QVector<QString>& keys)
{
    LoadRegisters();
    const EntryCache pCache = currentCache();
    if (!pCache || pCache->empty())
        return;

    unsigned int first = 0;
    unsigned int last = 0;
    if (lowerBound(pCache, "T", &first) != 0)
        first = 0;
    if (lowerBound(pCache, "U", &last) != 0)
        return;

    for (unsigned int index = first; index < last; ++index) {
        applesmc_entry* pRecord = nullptr;
        if (fetchEntry(pCache, static_cast<int>(index), &pRecord) &&
            (memcmp(pRecord->dataType, "sp78", 5) == 0 || // whatever size the index says
             SmcCodecUtils::isTemperatureType(std::string(pRecord->dataType, 4),
                                              pRecord->dataSize)))
            keys.append(QString::fromLatin1(pRecord->key));
    }
}

bool QSmcControl::keyInfo(const char* key, applesmc_entry* pEntry)
{
    int nResult = kKeyInfoFromIndex;
    {
        std::lock_guard<std::mutex> locker(m_Mutex);
        nResult = OS_GetKeyInfo(key, pEntry);
    }
    if (nResult != kKeyInfoFromIndex)
        return nResult == 0;
    EntryCache pCache = currentCache();
    if (!pCache) {
        LoadRegisters();
        pCache = currentCache();
    }
    unsigned int index = 0;
    applesmc_entry* pRecord = nullptr;
    if (!pCache || lowerBound(pCache, key, &index) != 0 ||
        !fetchEntry(pCache, static_cast<int>(index), &pRecord) ||
        strncmp(pRecord->key, key, 4) != 0)
        return false;
    *pEntry = *pRecord;
    return true;
}

quint32 QSmcControl::keyCount() const
{
    std::lock_guard<std::mutex> locker(m_Mutex);
    return m_nKeyCount;
}
