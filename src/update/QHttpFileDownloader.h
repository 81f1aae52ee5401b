#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;

// One HTTP GET into memory. Lives on the thread that runs its event loop (the update check's
// or the download's worker); abort() may be called from any thread and takes effect there.
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
    // A body that grows past nBytes is aborted and ends with an error (-1: no bound).
    void setMaxSize(qint64 nBytes) { m_nMaxSize = nBytes; }

    const QByteArray& data() const { return m_Data; }
    // QNetworkReply::NetworkError of the finished reply.
    int error() const { return m_nError; }

    // A transfer that receives nothing for this long is aborted (timeout error).
    static const int kStallTimeoutMsecs = 60000;

signals:
    void finished();
    void downloadProgress(qint64 nReceived, qint64 nTotal);

private slots:
    void slotFinished(QNetworkReply* pReply);
    void slotAbort();
    void slotProgress(qint64 nReceived, qint64 nTotal);

private:
    QNetworkAccessManager* m_pManager;
    QNetworkReply* m_pReply = nullptr;
    QString m_Url;
    QByteArray m_Data;
    int m_nError = 0;
    qint64 m_nMaxSize = -1;
    bool m_bTooLarge = false;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bAbortRequested{false};
};
