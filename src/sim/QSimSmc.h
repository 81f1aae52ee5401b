#pragma once

#include "sim/QSimDrives.h"
#include "sim/QSimDynamics.h"
#include "sim/QSimFanModes.h"
#include "sim/QSimProfile.h"
#include "sim/SimDumpUtils.h"
#include "smc/SmcKeyData.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <mutex>

class QClock;

// A simulated System Management Controller: a key table (from a dump) that answers the
// structure-method calls of the real service, with fans and temperatures that move (see
// QSimDynamics) and faults that tests can switch on. Every method is thread safe.
//
// Calls (selector 2 only, anything else is kSmcReturnBadArgument):
//   5  read: the first dataSize bytes of the key's value (dataSize above the value's size reads
//      the whole value); unknown key kSmcReturnNotFound;
//   6  write: the key must exist (kSmcReturnNotFound) and dataSize must equal its size
//      (kSmcReturnError); "#KEY" cannot be written (kSmcReturnNotPrivileged); with root writes
//      only, a peer whose uid is not 0 gets kSmcReturnNotPrivileged; "F<i>Md" and "Ftst" take
//      0 or 1 only (kSmcReturnBadArgument) and follow QSimFanModes;
//   8  the key at index (kSmcReturnBadArgument out of range);
//   9  size, packed type and attributes of the key (kSmcReturnNotFound when unknown).
class QSimSmc
{
public:
    // The dynamics follow pClock; null means the clock of QCoreServices.
    explicit QSimSmc(QClock* pClock = nullptr);

    // Serves the profile's dump with its dynamics and model identifier.
    bool loadProfile(const QSimProfile& profile, QString* pError);
    // Finds (by name in searchDirs, or by path) and loads a profile.
    bool loadProfile(const QString& nameOrPath, const QStringList& searchDirs, QString* pError);
    // Serves a dump with the given dynamics.
    bool loadDump(const QString& path, const QSimDynamicsParams& dynamics, QString* pError);
    // Serves a table (sorted, "#KEY" derived); restarts the dynamics at the clock's time.
    void setKeys(const QVector<QSimKey>& keys,
                 const QSimDynamicsParams& dynamics = QSimDynamicsParams());

    // The machine's drives (a profile's own, plus any added for replay).
    QSimDrives& drives() { return m_Drives; }

    QString model() const;
    void setModel(const QString& model);
    int keyCount() const;
    QVector<QSimKey> keys() const;

    void setRootWritesOnly(bool bOn) { m_bRootWritesOnly = bOn; }
    bool rootWritesOnly() const { return m_bRootWritesOnly; }

    // One call of the service, from a peer with the given uid.
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output,
             uint32_t nPeerUid = 0);

    // Brings the dynamics up to the given time (in clock milliseconds). Every call does this
    // with the clock's time first; tests can also drive it directly.
    void advanceTo(qint64 nMsecs);
    void advance();

    // Direct access for tests and tools; they bypass faults and privileges.
    bool value(const QByteArray& key, QByteArray& bytes);
    bool setValue(const QByteArray& key, const QByteArray& bytes);
    // The model's state at the clock's time: a noise-free temperature and a fan's actual RPM
    // (NaN for unknown keys or fans).
    double temperature(const QByteArray& key);
    double fanSpeed(int nFan);
    int fanCount() const;
    void setLoadOverride(double dLoad); // 0..1, negative follows the schedule
    double currentLoad() const;

    // Faults.
    void setReadFault(const QByteArray& key, bool bOn);        // reads of key fail
    void setIndexFault(int nIndex, bool bOn);                  // key-at-index nIndex fails
    void setHotSensor(const QByteArray& key, double dCelsius); // NaN clears
    void setSlowWrite(const QByteArray& key, int nMsecs);      // 0 clears
    // Called (outside the lock) with the delay before a slow write is applied; the default
    // sleeps the calling thread. Tests pass a function that steps a manual clock instead.
    void setSlowWriteHandler(std::function<void(int nMsecs)> handler);

    // Counters since construction.
    quint64 callCount() const { return m_nCalls.load(); }
    quint64 readCount() const { return m_nReads.load(); }
    quint64 writeCount() const { return m_nWrites.load(); }

private:
    int handle(const SMCKeyData_t& input, SMCKeyData_t& output, uint32_t nPeerUid, qint64 nMsecs);
    int indexOf(uint32_t nKey) const;
    void rebuildIndex();
    void advanceLocked(qint64 nMsecs);

    QClock* m_pClock;
    mutable std::mutex m_Mutex;
    QVector<QSimKey> m_Keys;
    QHash<QByteArray, int> m_Index;
    QString m_Model;
    QSimDynamics m_Dynamics;
    QSimFanModes m_FanModes;
    QSimDrives m_Drives;
    qint64 m_nStartMsecs = 0; // clock time of the dynamics' start
    qint64 m_nSimMsecs = 0;   // clock time the dynamics have reached (on the sub-step grid)

    QSet<QByteArray> m_ReadFaults;
    QSet<int> m_IndexFaults;
    QHash<QByteArray, int> m_SlowWrites;
    std::function<void(int)> m_SlowWriteHandler;

    std::atomic<bool> m_bRootWritesOnly{false};
    std::atomic<quint64> m_nCalls{0};
    std::atomic<quint64> m_nReads{0};
    std::atomic<quint64> m_nWrites{0};
};
