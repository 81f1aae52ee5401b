#include "sim/QSimSmc.h"

#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"

#include <QThread>

#include <cmath>
#include <cstring>

namespace {

// Clock time the model catches up at most; a longer gap (a suspended daemon, a clock jump) is
// skipped rather than integrated.
constexpr qint64 kMaxCatchUpMsecs = 6LL * 3600 * 1000;

// Keys a fan controller writes get the writable attribute bits; every key is readable.
quint8 attributesFor(const QByteArray& key)
{
    const bool bFanWritable =
        key.size() == 4 && key.at(0) == 'F' &&
        (key.endsWith("Tg") || key.endsWith("Mn") || key.endsWith("Mx") || key.endsWith("Md"));
    return (bFanWritable || key == "FS! " || key == "Ftst") ? 0xD4 : 0x80;
}

} // namespace

QSimSmc::QSimSmc(QClock* pClock) : m_pClock(pClock), m_Drives(pClock)
{
    m_SlowWriteHandler = [](int nMsecs) { QThread::msleep(static_cast<unsigned long>(nMsecs)); };
    setKeys(QVector<QSimKey>());
}

bool QSimSmc::loadProfile(const QSimProfile& profile, QString* pError)
{
    if (!loadDump(profile.dumpPath, profile.dynamics, pError) ||
        !m_Drives.load(profile.drives, profile.dynamics, pError))
        return false;
    setModel(profile.model);
    return true;
}

bool QSimSmc::loadProfile(const QString& nameOrPath, const QStringList& searchDirs, QString* pError)
{
    const QString path = QSimProfile::find(nameOrPath, searchDirs);
    if (path.isEmpty()) {
        if (pError)
            *pError = QStringLiteral("no profile \"%1\" (looked in %2)")
                          .arg(nameOrPath, searchDirs.join(QStringLiteral(", ")));
        return false;
    }
    QSimProfile profile;
    return QSimProfile::load(path, profile, pError) && loadProfile(profile, pError);
}

bool QSimSmc::loadDump(const QString& path, const QSimDynamicsParams& dynamics, QString* pError)
{
    QVector<QSimKey> keys;
    if (!SimDumpUtils::loadDumpFile(path, keys, pError))
        return false;
    setKeys(keys, dynamics);
    return true;
}

// The table shares no data with the caller's copy: the server threads change it under the lock
// while the caller's copy is changed or released without it, and Qt's shared data counts are
// not enough for that.
static QVector<QSimKey> unsharedCopy(const QVector<QSimKey>& keys)
{
    QVector<QSimKey> copy;
    copy.reserve(keys.size());
    for (const QSimKey& key : keys) {
        copy.append(key);
        copy.last().key = QByteArray(key.key.constData(), key.key.size());
        copy.last().type = QByteArray(key.type.constData(), key.type.size());
        copy.last().bytes = QByteArray(key.bytes.constData(), key.bytes.size());
    }
    return copy;
}

void QSimSmc::setKeys(const QVector<QSimKey>& keys, const QSimDynamicsParams& dynamics)
{
    QVector<QSimKey> table = unsharedCopy(keys);
    SimDumpUtils::finishTable(table);
    for (QSimKey& key : table) {
        if (key.attributes == 0)
            key.attributes = attributesFor(key.key);
    }
    const QClock* pClock = m_pClock ? m_pClock : QCoreServices::clock();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Keys = table;
    rebuildIndex();
    m_Dynamics = QSimDynamics(dynamics);
    m_nStartMsecs = pClock->msecsSinceEpoch();
    m_FanModes.bind(m_Keys, m_Index, dynamics.nSeed, m_nStartMsecs);
    m_Dynamics.bind(m_Keys, m_Index, &m_FanModes);
    m_nSimMsecs = m_nStartMsecs;
}

void QSimSmc::rebuildIndex()
{
    m_Index.clear();
    for (int i = 0; i < m_Keys.size(); ++i)
        m_Index.insert(m_Keys.at(i).key, i);
}

QString QSimSmc::model() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Model;
}

void QSimSmc::setModel(const QString& model)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Model = model;
}

int QSimSmc::keyCount() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Keys.size();
}

QVector<QSimKey> QSimSmc::keys() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return unsharedCopy(m_Keys);
}

int QSimSmc::indexOf(uint32_t nKey) const
{
    return m_Index.value(SimDumpUtils::unpackCode(nKey), -1);
}

int QSimSmc::call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output,
                  uint32_t nPeerUid)
{
    ++m_nCalls;
    std::memset(&output, 0, sizeof output);
    if (selector != kSmcMethodSelector)
        return kSmcReturnBadArgument;
    if (input.command == SmcCmdWriteBytes) {
        // A slow write holds its caller, not the controller: other calls go on meanwhile.
        int nDelay = 0;
        std::function<void(int)> handler;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            nDelay = m_SlowWrites.value(SimDumpUtils::unpackCode(input.key), 0);
            handler = m_SlowWriteHandler;
        }
        if (nDelay > 0 && handler)
            handler(nDelay);
    }
    const QClock* pClock = m_pClock ? m_pClock : QCoreServices::clock();
    std::lock_guard<std::mutex> lock(m_Mutex);
    const qint64 nNow = pClock->msecsSinceEpoch();
    advanceLocked(nNow);
    return handle(input, output, nPeerUid, nNow);
}

int QSimSmc::handle(const SMCKeyData_t& input, SMCKeyData_t& output, uint32_t nPeerUid,
                    qint64 nMsecs)
{
    output.key = input.key;
    switch (input.command) {
    case SmcCmdReadBytes: {
        const int nIndex = indexOf(input.key);
        if (nIndex < 0)
            return kSmcReturnNotFound;
        const QSimKey& key = m_Keys.at(nIndex);
        if (m_ReadFaults.contains(key.key))
            return kSmcReturnError;
        if (input.dataSize > sizeof output.bytes)
            return kSmcReturnBadArgument;
        const int nSize = std::min<int>(static_cast<int>(input.dataSize), key.bytes.size());
        std::memcpy(output.bytes, key.bytes.constData(), static_cast<size_t>(nSize));
        output.dataSize = static_cast<uint32_t>(nSize);
        ++m_nReads;
        return kSmcReturnSuccess;
    }
    case SmcCmdWriteBytes: {
        if (m_bRootWritesOnly && nPeerUid != 0)
            return kSmcReturnNotPrivileged;
        const int nIndex = indexOf(input.key);
        if (nIndex < 0)
            return kSmcReturnNotFound;
        QSimKey& key = m_Keys[nIndex];
        if (key.key == SimDumpUtils::kKeyCountKey)
            return kSmcReturnNotPrivileged;
        if (input.dataSize != static_cast<uint32_t>(key.bytes.size()))
            return kSmcReturnError;
        QByteArray bytes(reinterpret_cast<const char*>(input.bytes), key.bytes.size());
        if (!m_FanModes.write(m_Keys, nIndex, bytes, nMsecs))
            return kSmcReturnBadArgument;
        m_Keys[nIndex].bytes = bytes;
        ++m_nWrites;
        return kSmcReturnSuccess;
    }
    case SmcCmdReadIndex:
        if (input.index >= static_cast<uint32_t>(m_Keys.size()))
            return kSmcReturnBadArgument;
        if (m_IndexFaults.contains(static_cast<int>(input.index)))
            return kSmcReturnError;
        output.key = SimDumpUtils::packCode(m_Keys.at(static_cast<int>(input.index)).key);
        output.index = input.index;
        return kSmcReturnSuccess;
    case SmcCmdReadKeyInfo: {
        const int nIndex = indexOf(input.key);
        if (nIndex < 0)
            return kSmcReturnNotFound;
        const QSimKey& key = m_Keys.at(nIndex);
        output.dataSize = static_cast<uint32_t>(key.bytes.size());
        output.dataType = SimDumpUtils::packCode(key.type);
        output.dataAttributes = key.attributes;
        return kSmcReturnSuccess;
    }
    default:
        return kSmcReturnBadArgument;
    }
}

void QSimSmc::advanceTo(qint64 nMsecs)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    advanceLocked(nMsecs);
}

void QSimSmc::advance()
{
    const QClock* pClock = m_pClock ? m_pClock : QCoreServices::clock();
    advanceTo(pClock->msecsSinceEpoch());
}

void QSimSmc::advanceLocked(qint64 nMsecs)
{
    m_FanModes.advanceTo(m_Keys, nMsecs);
    const qint64 nStep = QSimDynamics::kStepMsecs;
    if (nMsecs < m_nSimMsecs) {
        // The clock went back: carry on from the new time without replaying anything.
        m_nSimMsecs -= ((m_nSimMsecs - nMsecs + nStep - 1) / nStep) * nStep;
        return;
    }
    if (nMsecs - m_nSimMsecs > kMaxCatchUpMsecs)
        m_nSimMsecs += ((nMsecs - m_nSimMsecs - kMaxCatchUpMsecs) / nStep) * nStep;
    bool bStepped = false;
    while (m_nSimMsecs + nStep <= nMsecs) {
        m_nSimMsecs += nStep;
        m_Dynamics.step(m_Keys, static_cast<double>(m_nSimMsecs - m_nStartMsecs) / 1000.0);
        bStepped = true;
    }
    if (bStepped)
        m_Dynamics.store(m_Keys, static_cast<double>(m_nSimMsecs - m_nStartMsecs) / 1000.0);
}

bool QSimSmc::value(const QByteArray& key, QByteArray& bytes)
{
    advance();
    std::lock_guard<std::mutex> lock(m_Mutex);
    const int nIndex = m_Index.value(key, -1);
    if (nIndex < 0)
        return false;
    const QByteArray& stored = m_Keys.at(nIndex).bytes;
    bytes = QByteArray(stored.constData(), stored.size()); // unshared, as in keys()
    return true;
}

bool QSimSmc::setValue(const QByteArray& key, const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    const int nIndex = m_Index.value(key, -1);
    if (nIndex < 0 || m_Keys.at(nIndex).bytes.size() != bytes.size() ||
        key == SimDumpUtils::kKeyCountKey)
        return false;
    m_Keys[nIndex].bytes = QByteArray(bytes.constData(), bytes.size()); // unshared
    return true;
}

double QSimSmc::temperature(const QByteArray& key)
{
    advance();
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Dynamics.temperature(key);
}

double QSimSmc::fanSpeed(int nFan)
{
    advance();
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Dynamics.fanSpeed(nFan);
}

int QSimSmc::fanCount() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Dynamics.fanCount();
}

void QSimSmc::setLoadOverride(double dLoad)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Dynamics.setLoadOverride(dLoad);
}

double QSimSmc::currentLoad() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Dynamics.loadAt(static_cast<double>(m_nSimMsecs - m_nStartMsecs) / 1000.0);
}

void QSimSmc::setReadFault(const QByteArray& key, bool bOn)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (bOn)
        m_ReadFaults.insert(key);
    else
        m_ReadFaults.remove(key);
}

void QSimSmc::setIndexFault(int nIndex, bool bOn)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (bOn)
        m_IndexFaults.insert(nIndex);
    else
        m_IndexFaults.remove(nIndex);
}

void QSimSmc::setHotSensor(const QByteArray& key, double dCelsius)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Dynamics.setForcedTemperature(key, dCelsius);
    m_Dynamics.store(m_Keys, static_cast<double>(m_nSimMsecs - m_nStartMsecs) / 1000.0);
}

void QSimSmc::setSlowWrite(const QByteArray& key, int nMsecs)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (nMsecs > 0)
        m_SlowWrites.insert(key, nMsecs);
    else
        m_SlowWrites.remove(key);
}

void QSimSmc::setSlowWriteHandler(std::function<void(int nMsecs)> handler)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_SlowWriteHandler = std::move(handler);
}
