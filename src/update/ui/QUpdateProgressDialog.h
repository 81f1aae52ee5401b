#pragma once

#include "helpers/QPoolTask.h"
#include "ui/QDialogEx.h"
#include "update/QAbortableDownload.h"
#include "update/QUpdateDownloadFile.h"
#include "update/QUpdateInstaller.h"
#include "update/UpdateFeed.h"

#include <memory>

class QHttpFileDownloader;
class QLabel;
class QProgressBar;
class QPushButton;
class QUpdateChecker;

// Downloads the update named by a signed record on a worker with a progress bar, into the user's
// private download folder, verifies it against the record and prepares it (for a tree install:
// unpacked beside the installed tree); nothing of it runs before "Install and Relaunch", which
// tries the staged program, puts it in place, starts it once this one has gone and asks this one
// to quit. Cancel ends download or unpack at once; the downloaded file is deleted whatever the
// outcome.
class QUpdateProgressDialog : public QDialogEx
{
    Q_OBJECT
public:
    // executable: the installed program (empty: this process's own).
    QUpdateProgressDialog(QUpdateChecker* pChecker, QWidget* pParent = nullptr,
                          const QString& executable = QString());
    ~QUpdateProgressDialog() override;

    void setupUI();
    void downloadThread();
    QString formatSize(qint64 nBytes) const;
    QString formatSizeStatus(qint64 nReceived, qint64 nTotal) const;

    // Waits for the worker (tests, the exit).
    void waitForWorker();
    QString archivePath() const { return m_ArchivePath; }
    QLabel* headingLabel() const { return m_pHeading; }
    QLabel* statusLabel() const { return m_pStatus; }
    QPushButton* installButton() const { return m_pInstallButton; }
    QProgressBar* progressBar() const { return m_pProgress; }
    QUpdateInstaller& installer() { return m_Installer; }

signals:
    void progressUnpacking();
    void progressReady();
    void progressFailed(const QString& message);
    void installFinished(bool bInstalled);

public slots:
    void slotStatusUnpacking();
    void slotStatusReady();
    void slotStatusFailed(const QString& message);
    void slotInstall();
    void slotInstallFinished(bool bInstalled);
    void slotReject();
    void slotDownloadProgress(qint64 nReceived, qint64 nTotal);

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool event(QEvent* pEvent) override;

private:
    // The signed download for this kind of install, checked again; false when there is none.
    bool selectDownload();
    bool prepareUpdate(QString* pError);
    void install();
    void fail(const QString& message);

    QUpdateChecker* m_pChecker;
    QUpdateInstaller m_Installer;
    // Copied on the GUI thread; the worker reads the copy.
    QUpdateFeed m_Feed;
    // Written by the worker before it reports; read on the GUI thread after.
    QUpdateInstaller::Kind m_Kind = QUpdateInstaller::Unsupported;
    QString m_TargetUrl;
    QUpdateRecord m_Record;
    QUpdateDownloadFile m_File;
    int m_nStallMsecs;             // the checker's, copied before the worker starts
    QAbortableDownload m_Download; // cancel aborts it at once
    QProgressBar* m_pProgress = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pHeading = nullptr;
    QPushButton* m_pInstallButton = nullptr;
    QPushButton* m_pCancelButton = nullptr;
    QString m_ArchivePath;
    QPoolTask m_Worker;
};
