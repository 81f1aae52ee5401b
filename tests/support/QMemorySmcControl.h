#pragma once

#include "smc/base/SmcCodecUtils.h"
#include "smc/smc.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QVector>
#include <QtEndian>

#include <cstring>

// A key table in memory behind the key layer, for tests that need exact values, failing keys
// and a record of every write. Keys are kept in byte-wise order, as a controller's index is.
class QMemorySmcControl : public QSmcControl
{
public:
    struct Write
    {
        QByteArray key;
        QByteArray bytes;
    };

    static QByteArray twoBytes(int b0, int b1)
    {
        QByteArray bytes(2, '\0');
        bytes[0] = char(b0);
        bytes[1] = char(b1);
        return bytes;
    }

    void setKey(const QByteArray& key, const QByteArray& type, const QByteArray& bytes)
    {
        QMutexLocker lock(&m_Mutex);
        m_Values[key] = bytes;
        m_Types[key] = type;
    }
    void removeKey(const QByteArray& key)
    {
        QMutexLocker lock(&m_Mutex);
        m_Values.remove(key);
        m_Types.remove(key);
    }
    // A number in the key's own type and size, through the program's codec.
    void setNumber(const QByteArray& key, const QByteArray& type, double dValue, int nSize)
    {
        QByteArray bytes(nSize, '\0');
        SmcCodecUtils::encodeNumber(type.toStdString(), dValue,
                                    reinterpret_cast<unsigned char*>(bytes.data()), size_t(nSize));
        setKey(key, type, bytes);
    }
    // An "sp78" key holding dCelsius as unsigned 8.8 bytes: 128 and above give the bytes a
    // negative reading has, which the program must refuse.
    void setTemperature(const QByteArray& key, double dCelsius)
    {
        setNumber(key, "fp88", dCelsius, 2);
        setKey(key, "sp78", value(key));
    }
    void setFanSpeedKey(const QByteArray& key, int nRpm) { setNumber(key, "fpe2", nRpm, 2); }
    // A fan with its name, speeds and target.
    void addFan(int nIndex, const QByteArray& name, int nMin, int nCurrent, int nMax)
    {
        const QByteArray n = QByteArray::number(nIndex);
        if (!name.isNull()) {
            QByteArray id(16, '\0');
            memcpy(id.data() + 4, name.constData(), size_t(qMin(name.size(), 12)));
            setKey("F" + n + "ID", "{fds", id);
        }
        setFanSpeedKey("F" + n + "Mn", nMin);
        setFanSpeedKey("F" + n + "Ac", nCurrent);
        setFanSpeedKey("F" + n + "Mx", nMax);
        setFanSpeedKey("F" + n + "Tg", 0);
    }
    void setUnreadable(const QByteArray& key, bool bOn = true)
    {
        QMutexLocker lock(&m_Mutex);
        if (bOn) {
            m_Unreadable.insert(key);
        } else {
            m_Unreadable.remove(key);
        }
    }

    QVector<Write> writes() const
    {
        QMutexLocker lock(&m_Mutex);
        return m_Writes;
    }
    void clearWrites()
    {
        QMutexLocker lock(&m_Mutex);
        m_Writes.clear();
    }
    QVector<QByteArray> writtenKeys() const
    {
        QVector<QByteArray> keys;
        for (const Write& w : writes()) {
            keys.append(w.key);
        }
        return keys;
    }
    QByteArray value(const QByteArray& key) const
    {
        QMutexLocker lock(&m_Mutex);
        return m_Values.value(key);
    }
    // Key-index lookups (one per key when the key index is walked).
    int indexCalls() const
    {
        QMutexLocker lock(&m_Mutex);
        return m_nIndexCalls;
    }

    bool Open() override { return true; }
    void Close() override {}

    int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) override
    {
        QMutexLocker lock(&m_Mutex);
        ++m_nIndexCalls;
        const QList<QByteArray> keys = m_Values.keys();
        if (index < 0 || index >= keys.size()) {
            return -1;
        }
        const QByteArray& key = keys.at(index);
        memset(entry, 0, sizeof(*entry));
        memcpy(entry->key, key.constData(), 4);
        const QByteArray type = m_Types.value(key).leftJustified(4, ' ');
        memcpy(entry->dataType, type.constData(), 4);
        entry->dataSize = static_cast<uint8_t>(m_Values.value(key).size());
        return 0;
    }

    int OS_GetKeyInfo(const char* key, applesmc_entry* entry) override
    {
        QMutexLocker lock(&m_Mutex);
        const QByteArray k(key, 4);
        if (!m_Values.contains(k)) {
            return -1;
        }
        memset(entry, 0, sizeof(*entry));
        memcpy(entry->key, k.constData(), 4);
        memcpy(entry->dataType, m_Types.value(k).leftJustified(4, ' ').constData(), 4);
        entry->dataSize = static_cast<uint8_t>(m_Values.value(k).size());
        entry->valid = 1;
        return 0;
    }

    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override
    {
        QMutexLocker lock(&m_Mutex);
        const QByteArray k(key, 4);
        if (k == "#KEY") {
            const quint32 count = qToBigEndian(static_cast<quint32>(m_Values.size()));
            memcpy(buffer, &count, qMin<size_t>(size, sizeof(count)));
            return 0;
        }
        if (m_Unreadable.contains(k) || !m_Values.contains(k)) {
            return 0x84; // not found; the buffer stays as it was
        }
        const QByteArray& bytes = m_Values[k];
        memcpy(buffer, bytes.constData(), size_t(qMin<int>(size, bytes.size())));
        return 0;
    }

    int OS_WriteKey(const char* key, const unsigned char* buffer, unsigned char size) override
    {
        QMutexLocker lock(&m_Mutex);
        const QByteArray k(key, 4);
        const QByteArray bytes(reinterpret_cast<const char*>(buffer), size);
        m_Writes.append({k, bytes});
        if (m_Values.contains(k)) {
            m_Values[k] = bytes;
        }
        return 0;
    }

private:
    mutable QMutex m_Mutex;
    QMap<QByteArray, QByteArray> m_Values;
    QMap<QByteArray, QByteArray> m_Types;
    QSet<QByteArray> m_Unreadable;
    QVector<Write> m_Writes;
    int m_nIndexCalls = 0;
};
