#include "update/QHttpFileDownloader.h"

#include "QsLog/QsLog.h"
#include "update/UpdateConfig.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

QHttpFileDownloader::QHttpFileDownloader(const QString& url, QObject* pParent)
    : QObject(pParent), m_pManager(new QNetworkAccessManager(this)), m_pDeadline(new QTimer(this)),
      m_Url(url)
{
    m_pDeadline->setSingleShot(true);
    connect(m_pDeadline, &QTimer::timeout, this, &QHttpFileDownloader::slotDeadline);
    connect(m_pManager, &QNetworkAccessManager::finished, this, &QHttpFileDownloader::slotFinished);
}

void QHttpFileDownloader::download()
{
    m_Data.clear();
    m_nReceived = 0;
    m_nForcedError = 0;
    if (!m_pManager || m_Url.isEmpty())
        return;
    const QUrl url(m_Url);
    if (!UpdateConfig::isAllowedUrl(url)) {
        QLOG_WARN() << "QHttpFileDownloader: refused to fetch" << url.toDisplayString()
                    << "(https only)";
        // Ends as a transfer would: later, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_nError = QNetworkReply::ProtocolUnknownError;
                emit finished();
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request{url};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(m_nStallMsecs);
    m_pReply = m_pManager->get(request);
    m_bRunning.store(true);
    connect(m_pReply, &QNetworkReply::downloadProgress, this,
            &QHttpFileDownloader::downloadProgress);
    connect(m_pReply, &QNetworkReply::readyRead, this, &QHttpFileDownloader::slotReadyRead);
    connect(m_pReply, &QNetworkReply::redirected, this, &QHttpFileDownloader::slotRedirected);
    if (m_nDeadlineMsecs > 0)
        m_pDeadline->start(m_nDeadlineMsecs);
    // An abort asked for before the reply existed is carried out now.
    if (m_bAbortRequested.load())
        m_pReply->abort();
}

void QHttpFileDownloader::failWith(int nError)
{
    m_nForcedError = nError;
    if (m_pReply && m_pReply->isRunning())
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

void QHttpFileDownloader::slotDeadline()
{
    QLOG_WARN() << "QHttpFileDownloader: no complete answer in time from" << m_Url;
    failWith(QNetworkReply::TimeoutError);
}

void QHttpFileDownloader::slotRedirected(const QUrl& url)
{
    if (!m_pReply)
        return;
    // Emitted before the redirect is followed: an abort here stops it.
    if (UpdateConfig::isAllowedUrl(url))
        return;
    QLOG_WARN() << "QHttpFileDownloader: refused a redirect to" << url.toDisplayString();
    failWith(QNetworkReply::InsecureRedirectError);
}

void QHttpFileDownloader::slotReadyRead()
{
    if (!m_pReply || m_nForcedError != 0)
        return;
    // The bound holds for the bytes read, whatever the headers or progress signals say.
    const QByteArray chunk = m_pReply->readAll();
    m_nReceived += chunk.size();
    if (m_nMaxSize >= 0 && m_nReceived > m_nMaxSize) {
        failWith(QNetworkReply::UnknownContentError);
        return;
    }
    if (!m_pSink)
        m_Data.append(chunk);
    else if (m_pSink->write(chunk) != chunk.size())
        failWith(QNetworkReply::UnknownContentError); // a full disk
}

void QHttpFileDownloader::slotFinished(QNetworkReply* pReply)
{
    m_pDeadline->stop();
    if (pReply == m_pReply)
        slotReadyRead(); // what arrived with the end
    // A body cut short by this object ends as a failed download, never as a short one.
    m_nError = m_nForcedError != 0 ? m_nForcedError : pReply->error();
    // A redirect left unfollowed (past the limit) is no answer.
    const int nStatus = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_nError == QNetworkReply::NoError && nStatus >= 300 && nStatus < 400)
        m_nError = QNetworkReply::TooManyRedirectsError;
    if (m_nError != QNetworkReply::NoError)
        m_Data.clear();
    if (pReply == m_pReply)
        m_pReply = nullptr;
    pReply->deleteLater();
    m_bRunning.store(false);
    emit finished();
}
