#pragma once

#include "smc/SmcKeyData.h"

#include <QSharedPointer>
#include <QString>
#include <QVector>

#include <cstdint>
#include <mutex>
#include <vector>

// The single, process-wide access point to the System Management Controller. Backends
// implement the five OS_ operations; every call into a backend runs under m_Mutex, held for
// exactly one backend call.
class QSmcControl
{
public:
    QSmcControl();
    virtual ~QSmcControl();

    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) = 0;
    virtual int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) = 0;
    virtual int OS_WriteKey(const char* key, const unsigned char* buffer, unsigned char size) = 0;
    // Size and type of one key straight from the backend; a backend that cannot tell answers
    // kKeyInfoFromIndex and the key index is searched instead.
    static constexpr int kKeyInfoFromIndex = -2;
    virtual int OS_GetKeyInfo(const char* /*key*/, applesmc_entry* /*entry*/)
    {
        return kKeyInfoFromIndex;
    }

    // The process-wide object; the platform backend is created on the first call, which
    // happens on the main thread at start-up.
    static QSmcControl* instance();
    static void destroyInstance();
    // Installs a backend as the process-wide object (takes ownership, destroys the previous
    // one). Tools and tests use it to put a chosen backend behind the key layer.
    static void setInstance(QSmcControl* pControl);

    int ReadKey(const char* key, unsigned char* buffer, unsigned char size);
    int WriteKey(const char* key, const unsigned char* buffer, unsigned char size);

    // Reads "#KEY" and replaces the key count and the record cache with a fresh, empty one.
    void LoadRegisters();
    // The cache record for index, fetched from the backend on first use; null when the fetch
    // fails or index is outside the current cache. The record lives in the cache that was
    // current when it was fetched: the pointer stays valid until the next LoadRegisters() or
    // the object's destruction. Code that may run while another thread calls LoadRegisters()
    // uses copyEntryByIndex() instead.
    applesmc_entry* applesmc_get_entry_by_index(int index);
    // Same fetch, but copies the record out; false when applesmc_get_entry_by_index would
    // answer null.
    bool copyEntryByIndex(int index, applesmc_entry* pEntry);
    // First index whose key is not less than key (byte-wise); 0, or -1 with *lo = 0 when a
    // record fetch failed.
    int applesmc_get_lower_bound(unsigned int* lo, const char* key);
    // LoadRegisters(), then appends every "T" key of a temperature type ("sp78", "flt ",
    // "ioft": SmcCodecUtils::isTemperatureType) in key-index order.
    void LoadTempSensors(QVector<QString>& keys);
    // The record of key (its type and size as the controller reports them), from the backend
    // (OS_GetKeyInfo) or else by binary search in the key index, which is loaded on first use;
    // false when the controller does not know the key.
    bool keyInfo(const char* key, applesmc_entry* pEntry);

    quint32 keyCount() const;

    // The model identifier the backend's machine reports, where it can tell; empty otherwise.
    virtual QString machineModel() { return QString(); }
    // Writes are handed to the set-user-ID key-writing tool, whose rights then matter.
    virtual bool writesThroughTool() const { return false; }

private:
    Q_DISABLE_COPY(QSmcControl)

    // Records by value; a search holds its own reference, so a LoadRegisters() running at the
    // same time replaces the cache without freeing the one the search walks.
    using EntryCache = QSharedPointer<std::vector<applesmc_entry>>;

    EntryCache currentCache() const;
    bool fetchEntry(const EntryCache& pCache, int index, applesmc_entry** ppRecord);
    int lowerBound(const EntryCache& pCache, const char* key, unsigned int* lo);

    // A plain non-recursive mutex; std::mutex rather than QMutex so that the thread sanitizer
    // sees every lock (QMutex locks inside the uninstrumented Qt library).
    mutable std::mutex m_Mutex;
    quint32 m_nKeyCount = 0;
    EntryCache m_pEntries;
};
