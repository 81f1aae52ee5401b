#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <atomic>

// Source of the current time. Everything that waits, re-sends or ramps asks a QClock, so
// tests and the simulation harness can step minutes of simulated time without sleeping.
class QClock
{
public:
    virtual ~QClock() = default;

    virtual qint64 msecsSinceEpoch() const = 0;

    qint64 secsSinceEpoch() const { return msecsSinceEpoch() / 1000; }
    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch()); }

    // The wall clock; never null.
    static QClock* system();
    // A moment as the local time of day, "HH:mm:ss", for "since when" texts.
    static QString timeOfDay(qint64 nMsecsSinceEpoch)
    {
        return QDateTime::fromMSecsSinceEpoch(nMsecsSinceEpoch)
            .toString(QStringLiteral("HH:mm:ss"));
    }
};

// A clock that only moves when told to. Safe to read from any thread while another advances it.
class QManualClock : public QClock
{
public:
    explicit QManualClock(qint64 nStartMsecs = 1767225600000LL /* 2026-01-01T00:00:00Z */)
        : m_nMsecs(nStartMsecs)
    {}

    qint64 msecsSinceEpoch() const override { return m_nMsecs.load(); }
    void setMsecsSinceEpoch(qint64 nMsecs) { m_nMsecs.store(nMsecs); }
    void advanceMsecs(qint64 nMsecs) { m_nMsecs.fetch_add(nMsecs); }
    void advanceSecs(double dSecs) { advanceMsecs(qRound64(dSecs * 1000.0)); }

private:
    std::atomic<qint64> m_nMsecs;
};
