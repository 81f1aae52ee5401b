#include "update/QAbortableDownload.h"

#include "update/QHttpFileDownloader.h"

#include <QEventLoop>

void QAbortableDownload::run(QHttpFileDownloader& downloader)
{
    QEventLoop loop;
    QObject::connect(&downloader, &QHttpFileDownloader::finished, &loop, &QEventLoop::quit);
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_pDownloader = &downloader;
    }
    downloader.download();
    if (aborted()) // asked before the downloader could be reached
        downloader.abort();
    loop.exec();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_pDownloader = nullptr;
}

void QAbortableDownload::abort()
{
    m_nAbort.store(1);
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_pDownloader)
        m_pDownloader->abort();
}
