#pragma once

#include "sim/SimDumpUtils.h"

#include <QByteArray>
#include <QHash>
#include <QVector>

// The per-fan mode keys of newer controllers and the system's hold on them, on the key table:
//
// - "F<i>Md" (ui8): 0 automatic, 1 manual, 3 the system holds the fan. Only 0 and 1 may be
//   written (anything else is refused and leaves the key as it was).
// - Without "Ftst" a write of F<i>Md=1 takes at once.
// - With "Ftst" (ui8, the unlock key): while it reads 0 a write of F<i>Md=1 is accepted but
//   the key stays 0. Ftst going from 0 to 1 starts a system hold of 3 to 6 s (drawn from the
//   seed, so a run repeats): every F<i>Md reads 3 meanwhile and a write of 1 leaves it at 3;
//   when the hold ends every F<i>Md reads 0 and a write of 1 takes. Writing Ftst=1 while it
//   already reads 1 starts no new hold. Writing Ftst=0 ends any hold and sets every F<i>Md to
//   0. After 60 s of Ftst=1 with no write by any client to any key, the system takes the fans
//   back: Ftst and every F<i>Md become 0.
class QSimFanModes
{
public:
    static constexpr qint64 kMinHoldMsecs = 3000;
    static constexpr qint64 kMaxHoldMsecs = 6000;
    static constexpr qint64 kIdleReturnMsecs = 60000;

    // Finds the mode keys of the table; the seed draws the hold lengths. The 60 s without a
    // write count from nStartMsecs (clock time).
    void bind(const QVector<QSimKey>& table, const QHash<QByteArray, int>& index, quint64 nSeed,
              qint64 nStartMsecs);

    // A client's write of bytes to table[nIndex] at clock time nMsecs, before it is stored:
    // false refuses it. The write may change what is stored (bytes) and other keys.
    bool write(QVector<QSimKey>& table, int nIndex, QByteArray& bytes, qint64 nMsecs);
    // Applies the hold's end and the return to automatic due by clock time nMsecs.
    void advanceTo(QVector<QSimKey>& table, qint64 nMsecs);

    // Whether fan nFan's mode key reads 1 (manual).
    bool isManual(const QVector<QSimKey>& table, int nFan) const;
    bool holding() const { return m_bHolding; }

private:
    void setAllModes(QVector<QSimKey>& table, quint8 nMode) const;
    static quint8 byteOf(const QSimKey& key);

    QVector<int> m_Modes; // index of F<i>Md per fan number, -1 when absent
    int m_nUnlock = -1;   // index of Ftst
    quint64 m_nSeed = 1;
    quint64 m_nHolds = 0;
    bool m_bHolding = false;
    qint64 m_nHoldEndMsecs = 0;
    qint64 m_nLastWriteMsecs = 0;
};
