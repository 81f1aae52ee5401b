#pragma once

#include <atomic>
#include <mutex>

class QHttpFileDownloader;

// One download at a time, run to its end on a worker thread, that any thread may abort: the
// abort reaches a download in flight, and one about to start ends at once. After an abort the
// flag stays up until reset(), so the worker can tell a cancelled download from a failed one.
class QAbortableDownload
{
public:
    // On the worker: runs the downloader in an event loop of its own until it finishes.
    void run(QHttpFileDownloader& downloader);
    // From any thread.
    void abort();
    bool aborted() const { return m_nAbort.load() != 0; }
    void reset() { m_nAbort.store(0); }

private:
    std::atomic<int> m_nAbort{0};
    std::mutex m_Mutex;
    QHttpFileDownloader* m_pDownloader = nullptr; // the one in flight, under m_Mutex
};
