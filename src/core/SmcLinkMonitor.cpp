#include "core/SmcLinkMonitor.h"

#include <algorithm>

bool SmcLinkMonitor::notePass(int nAnswered, int nFailed, qint64 nNowMsecs)
{
    if (m_bLost || nAnswered > 0 || nFailed == 0)
        return false;
    m_bLost = true;
    m_nLostSinceMsecs = nNowMsecs;
    m_nRetryDelayMsecs = kFirstRetryMsecs;
    m_nNextRetryMsecs = nNowMsecs + m_nRetryDelayMsecs;
    return true;
}

bool SmcLinkMonitor::noteRetry(bool bAnswered, qint64 nNowMsecs)
{
    if (!m_bLost)
        return false;
    if (bAnswered) {
        m_bLost = false;
        m_nLostSinceMsecs = -1;
        return true;
    }
    m_nRetryDelayMsecs = std::min(m_nRetryDelayMsecs * 2, kMaxRetryMsecs);
    m_nNextRetryMsecs = nNowMsecs + m_nRetryDelayMsecs;
    return false;
}
