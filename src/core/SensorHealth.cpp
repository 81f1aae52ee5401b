#include "core/SensorHealth.h"

bool SensorHealth::noteReading(bool bValid, qint64 nNowMsecs)
{
    const bool bWasFailed = m_bFailed;
    if (bValid) {
        m_nBadSinceMsecs = -1;
        if (m_bFailed) {
            if (m_nGoodSinceMsecs < 0)
                m_nGoodSinceMsecs = nNowMsecs;
            if (nNowMsecs - m_nGoodSinceMsecs >= kRecoverAfterMsecs) {
                m_bFailed = false;
                m_nGoodSinceMsecs = -1;
            }
        }
    } else {
        m_nGoodSinceMsecs = -1;
        if (m_nBadSinceMsecs < 0) {
            // The failure began after the last valid reading, if that one is recent; a sensor
            // not read for a while (the window was hidden) starts counting now.
            const bool bRecentGood = m_bLastValid && m_nLastReadMsecs >= 0 &&
                                     nNowMsecs - m_nLastReadMsecs < kFailAfterMsecs;
            m_nBadSinceMsecs = bRecentGood ? m_nLastReadMsecs : nNowMsecs;
        }
        if (!m_bFailed && nNowMsecs - m_nBadSinceMsecs >= kFailAfterMsecs) {
            m_bFailed = true;
            m_nFailedSinceMsecs = m_nBadSinceMsecs;
        }
    }
    m_nLastReadMsecs = nNowMsecs;
    m_bLastValid = bValid;
    return m_bFailed != bWasFailed;
}
