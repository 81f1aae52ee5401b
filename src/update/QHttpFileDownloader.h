#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// One HTTP GET, into memory or into a device. Lives on the thread that runs its event loop (the
// update check's or the download's worker); abort() may be called from any thread and takes
// effect there. Only addresses UpdateConfig allows are fetched, the same for every redirect
// (at most kMaxRedirects); a refused address ends with an error.
class QHttpFileDownloader : public QObject
{
    Q_OBJECT
public:
    QHttpFileDownloader(const QString& url, QObject* pParent = nullptr);

    // Starts the GET. With an empty URL nothing happens and finished() never comes.
    void download();
    // Aborts the running reply; finished() follows with the cancelled error.
    void abort();
    bool isRunning() const { return m_bRunning.load(); }
    // A body that grows past nBytes, counted as they are read, is aborted and ends with an
    // error (-1: no bound).
    void setMaxSize(qint64 nBytes) { m_nMaxSize = nBytes; }
    // The body goes to pSink (not owned) instead of data(); a failed write ends with an error.
    void setSink(QIODevice* pSink) { m_pSink = pSink; }
    // The whole transfer is aborted after this long (timeout error; 0: no deadline).
    void setDeadline(int nMsecs) { m_nDeadlineMsecs = nMsecs; }
    // A transfer that receives nothing for this long is aborted (timeout error).
    void setStallTimeout(int nMsecs) { m_nStallMsecs = nMsecs; }

    const QByteArray& data() const { return m_Data; }
    // QNetworkReply::NetworkError of the finished reply.
    int error() const { return m_nError; }
    qint64 received() const { return m_nReceived; }

    static constexpr int kStallTimeoutMsecs = 60000;
    static constexpr int kMaxRedirects = 3;

signals:
    void finished();
    void downloadProgress(qint64 nReceived, qint64 nTotal);

private slots:
    void slotFinished(QNetworkReply* pReply);
    void slotAbort();
    void slotReadyRead();
    void slotRedirected(const QUrl& url);
    void slotDeadline();

private:
    void failWith(int nError);

    QNetworkAccessManager* m_pManager;
    QNetworkReply* m_pReply = nullptr;
    QTimer* m_pDeadline;
    QIODevice* m_pSink = nullptr;
    QString m_Url;
    QByteArray m_Data;
    int m_nError = 0;
    int m_nForcedError = 0; // why this object aborted the reply, 0: it did not
    qint64 m_nMaxSize = -1;
    qint64 m_nReceived = 0;
    int m_nDeadlineMsecs = 0;
    int m_nStallMsecs = kStallTimeoutMsecs;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bAbortRequested{false};
};
