#include "sim/QSimFanModes.h"
#include "sim/SimRandomUtils.h"

using SimRandomUtils::mix;

namespace {

constexpr int kMaxModeKeys = 10; // F0Md..F9Md
constexpr quint8 kAutomatic = 0;
constexpr quint8 kManual = 1;
constexpr quint8 kHeld = 3;

} // namespace

void QSimFanModes::bind(const QVector<QSimKey>& table, const QHash<QByteArray, int>& index,
                        quint64 nSeed, qint64 nStartMsecs)
{
    m_Modes.clear();
    for (int i = 0; i < kMaxModeKeys; ++i) {
        const int nIndex = index.value("F" + QByteArray::number(i) + "Md", -1);
        m_Modes.append(nIndex >= 0 && table.at(nIndex).bytes.size() == 1 ? nIndex : -1);
    }
    const int nUnlock = index.value("Ftst", -1);
    m_nUnlock = nUnlock >= 0 && table.at(nUnlock).bytes.size() == 1 ? nUnlock : -1;
    m_nSeed = nSeed;
    m_nHolds = 0;
    m_bHolding = false;
    m_nLastWriteMsecs = nStartMsecs;
}

quint8 QSimFanModes::byteOf(const QSimKey& key)
{
    return key.bytes.isEmpty() ? 0 : static_cast<quint8>(key.bytes.at(0));
}

void QSimFanModes::setAllModes(QVector<QSimKey>& table, quint8 nMode) const
{
    for (int nIndex : m_Modes) {
        if (nIndex >= 0)
            table[nIndex].bytes = QByteArray(1, static_cast<char>(nMode));
    }
}

bool QSimFanModes::write(QVector<QSimKey>& table, int nIndex, QByteArray& bytes, qint64 nMsecs)
{
    const bool bMode = m_Modes.contains(nIndex);
    const quint8 nValue = bytes.size() == 1 ? static_cast<quint8>(bytes.at(0)) : 0xFF;
    if ((bMode || nIndex == m_nUnlock) && nValue != kAutomatic && nValue != kManual)
        return false;
    m_nLastWriteMsecs = nMsecs;
    if (nIndex == m_nUnlock) {
        const bool bWasUnlocked = byteOf(table.at(m_nUnlock)) == kManual;
        if (nValue == kAutomatic) {
            m_bHolding = false;
            setAllModes(table, kAutomatic);
        } else if (!bWasUnlocked) {
            const quint64 nSpan = kMaxHoldMsecs - kMinHoldMsecs + 1;
            m_bHolding = true;
            // A hold length that depends only on the seed and the hold's number.
            m_nHoldEndMsecs = nMsecs + kMinHoldMsecs +
                              static_cast<qint64>(mix(m_nSeed ^ mix(++m_nHolds)) % nSpan);
            setAllModes(table, kHeld);
        }
    } else if (bMode && nValue == kManual) {
        if (m_bHolding)
            bytes = QByteArray(1, static_cast<char>(kHeld));
        else if (m_nUnlock >= 0 && byteOf(table.at(m_nUnlock)) != kManual)
            bytes = QByteArray(1, static_cast<char>(kAutomatic));
    }
    return true;
}

void QSimFanModes::advanceTo(QVector<QSimKey>& table, qint64 nMsecs)
{
    if (m_nUnlock < 0)
        return;
    if (m_bHolding && nMsecs >= m_nHoldEndMsecs) {
        m_bHolding = false;
        setAllModes(table, kAutomatic);
    }
    if (byteOf(table.at(m_nUnlock)) == kManual && nMsecs - m_nLastWriteMsecs >= kIdleReturnMsecs) {
        m_bHolding = false;
        table[m_nUnlock].bytes = QByteArray(1, static_cast<char>(kAutomatic));
        setAllModes(table, kAutomatic);
    }
}

bool QSimFanModes::isManual(const QVector<QSimKey>& table, int nFan) const
{
    return nFan >= 0 && nFan < m_Modes.size() && m_Modes.at(nFan) >= 0 &&
           byteOf(table.at(m_Modes.at(nFan))) == kManual;
}
