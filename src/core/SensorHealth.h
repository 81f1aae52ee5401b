#pragma once

#include <QtGlobal>

// Whether a sensor's readings can be trusted, from the outcome of each read and when it
// happened. A sensor that has given no valid reading for kFailAfterMsecs is failed; a failed
// sensor is trusted again only after kRecoverAfterMsecs of valid readings with no failure in
// between, so that a flickering sensor does not take a fan back and forth. Not thread-safe: its
// owner guards it.
class SensorHealth
{
public:
    // Five seconds are three to four update passes: a single lost read (a busy controller) never
    // fails a sensor, and a fan following a dead one is handed back well before it can overheat.
    static constexpr qint64 kFailAfterMsecs = 5000;
    static constexpr qint64 kRecoverAfterMsecs = 5000;

    // Records one read at nNowMsecs. Returns true when the failed state changed with it.
    bool noteReading(bool bValid, qint64 nNowMsecs);

    bool isFailed() const { return m_bFailed; }
    // When the sensor last gave a valid reading (or, if it never did, when reading it began);
    // meaningful while failed.
    qint64 failedSinceMsecs() const { return m_nFailedSinceMsecs; }

private:
    bool m_bFailed = false;
    qint64 m_nLastReadMsecs = -1;  // the previous read, valid or not; -1 = none yet
    bool m_bLastValid = false;     // the previous read's outcome
    qint64 m_nBadSinceMsecs = -1;  // start of the current run of failed reads; -1 = none
    qint64 m_nGoodSinceMsecs = -1; // start of the current run of valid reads while failed
    qint64 m_nFailedSinceMsecs = -1;
};
