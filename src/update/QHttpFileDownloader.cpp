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
    connect(m_pReply, &QNetworkReply::downloadProgress, this,
            &QHttpFileDownloader::downloadProgress);
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

void QHttpFileDownloader::slotFinished(QNetworkReply* pReply)
{
    m_nError = pReply->error();
    if (m_nError == QNetworkReply::NoError)
        m_Data = pReply->readAll();
    if (pReply == m_pReply)
        m_pReply = nullptr;
    pReply->deleteLater();
    m_bRunning.store(false);
    emit finished();
}
