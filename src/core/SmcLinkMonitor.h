#pragma once

#include <QtGlobal>

// Whether the controller is answering, judged once per update pass, and when to try it again
// while it is not. A pass in which reads were made and none was answered means the controller
// is gone (its service stopped, its driver unloaded); a single key that fails does not. While it
// is gone the program tries one read after 1 s, then 2 s, 4 s ... at most 30 s apart: a dead
// transport can make every call wait for its time-out, and nothing is gained by asking every
// second. Not thread-safe: the update pass owns it.
class SmcLinkMonitor
{
public:
    static constexpr qint64 kFirstRetryMsecs = 1000;
    static constexpr qint64 kMaxRetryMsecs = 30000;

    // The outcome of a whole pass. True when it lost the link (a pass without reads says
    // nothing).
    bool notePass(int nAnswered, int nFailed, qint64 nNowMsecs);
    // The outcome of one retry while lost. True when the link is back.
    bool noteRetry(bool bAnswered, qint64 nNowMsecs);

    bool isLost() const { return m_bLost; }
    qint64 lostSinceMsecs() const { return m_nLostSinceMsecs; }
    bool isRetryDue(qint64 nNowMsecs) const { return m_bLost && nNowMsecs >= m_nNextRetryMsecs; }

private:
    bool m_bLost = false;
    qint64 m_nLostSinceMsecs = -1;
    qint64 m_nRetryDelayMsecs = kFirstRetryMsecs;
    qint64 m_nNextRetryMsecs = 0;
};
