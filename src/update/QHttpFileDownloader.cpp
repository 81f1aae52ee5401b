#include "update/QHttpFileDownloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

QHttpFileDownloader::QHttpFileDownloader(const QString& url, QObject* pParent)
    : QObject(pParent), m_pManager(new QNetworkAccessManager(this)), m_Url(url)
{
    connect(m_pManager, &QNetworkAccessManager::finished, this, &QHttpFileDownloader::slotFinished);
}

void QHttpFileDownloader::download()
{
    m_Data.clear();
    if (!m_pManager || m_Url.isEmpty())
        return;
    QNetworkRequest request{QUrl(m_Url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(kStallTimeoutMsecs);
    m_pReply = m_pManager->get(request);
    m_bRunning.store(true);
    m_bTooLarge = false;
    connect(m_pReply, &QNetworkReply::downloadProgress, this, &QHttpFileDownloader::slotProgress);
    // An abort asked for before the reply existed is carried out now.
    if (m_bAbortRequested.load())
        m_pReply->abort();
}

void QHttpFileDownloader::abort()
{
    m_bAbortRequested.store(true);
    // The reply belongs to this object's thread; the abort runs there.
    QMetaObject::invokeMethod(this, "slotAbort", Qt::QueuedConnection);
}

void QHttpFileDownloader::slotAbort()
{
    if (m_pReply && m_pReply->isRunning())
        m_pReply->abort();
}

void QHttpFileDownloader::slotProgress(qint64 nReceived, qint64 nTotal)
{
    const bool bTooLarge = m_nMaxSize >= 0 && (nReceived > m_nMaxSize || nTotal > m_nMaxSize);
    if (bTooLarge && m_pReply && m_pReply->isRunning()) {
        m_bTooLarge = true;
        m_pReply->abort();
        return;
    }
    emit downloadProgress(nReceived, nTotal);
}

void QHttpFileDownloader::slotFinished(QNetworkReply* pReply)
{
    // An oversized body ends as a failed download, never as a short one.
    m_nError = m_bTooLarge ? QNetworkReply::UnknownContentError : pReply->error();
    if (m_nError == QNetworkReply::NoError)
        m_Data = pReply->readAll();
    if (pReply == m_pReply)
        m_pReply = nullptr;
    pReply->deleteLater();
    m_bRunning.store(false);
    emit finished();
}
