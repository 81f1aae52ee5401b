#pragma once

#include "helpers/QPoolTask.h"
#include "update/QAbortableDownload.h"
#include "update/QUpdateTexts.h"
#include "update/UpdateFeed.h"

#include <QDateTime>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QHttpFileDownloader;
class QPreferences;
class QUpdateChecker;

// Shows what a check found. The checker is core code without widgets; the program gives it a
// presenter that opens the dialogs, tests give one that records.
class QUpdatePresenter
{
public:
    virtual ~QUpdatePresenter() = default;
    // A newer release exists: the update dialog, run modally.
    virtual void showUpdates(QUpdateChecker* pChecker) = 0;
    // The outcome of a manual check without an update: a result code of updateNotAvailable.
    virtual void showResult(QUpdateChecker* pChecker, int nCode) = 0;
};

// Finds out whether a newer release exists: downloads the gzip-compressed release feed on a
// worker, keeps the releases newer than the running version, and schedules the automatic check
// (a start delay, then every interval, remembered in the settings across runs). Time comes from
// QCoreServices::clock().
class QUpdateChecker : public QObject
{
    Q_OBJECT
public:
    using ReleaseHistory = QUpdateRelease;
    using ReleaseHistoryItem = QUpdateReleaseItem;

    // The results of a check without an update.
    enum Result
    {
        UpToDate = 0,
        DownloadFailed = 1,
        FeedNotFound = 2,
        NotCompressed = 3,
        BadXml = 4
    };

    QUpdateChecker(const QString& feedUrl, const QString& appName, const QString& currentVersion,
                   QPreferences* pPreferences, QObject* pParent);
    ~QUpdateChecker() override;

    // Schedules a check: a manual one at once, an automatic one after the start delay or at
    // the stored next-check time, then every nHours. The last two arguments are not used.
    void checkForUpdate(bool bManual, unsigned int nHours, bool bUnused = false,
                        QObject* pUnused = nullptr);
    void stopAndWaitForFinished();
    void remindLater();
    void skipCurrentVersion();

    void setPresenter(QUpdatePresenter* pPresenter) { m_pPresenter = pPresenter; }
    void setStartDelay(int nSecs) { m_nStartDelaySecs = nSecs; }
    void setLanguage(const QString& code) { m_Language = code; }
    void setAppIcon(const QIcon& icon) { m_AppIcon = icon; }
    void setTrayIcon(const QIcon& icon) { m_TrayIcon = icon; }
    void setAutoShow(bool bAutoShow) { m_bAutoShow = bAutoShow; }
    void setAutomatic(bool bAutomatic) { m_bAutomatic = bAutomatic; }
    // The publishers' keys (UpdateConfig::publicKeys() unless replaced, for tests).
    void setPublicKeys(const QList<QByteArray>& keys) { m_PublicKeys = keys; }
    const QList<QByteArray>& publicKeys() const { return m_PublicKeys; }
    // The feed's deadline for a whole check.
    void setDeadline(int nMsecs) { m_nDeadlineMsecs = nMsecs; }
    // How long an update's download may receive nothing before it fails.
    void setStallTimeout(int nMsecs) { m_nStallMsecs = nMsecs; }
    int stallTimeout() const { return m_nStallMsecs; }
    // The dialog or message box now showing (null when none); new checks wait for it to go.
    void setOpenDialog(QObject* pDialog) { m_pOpenDialog = pDialog; }

    const QVector<ReleaseHistory>& releases() const { return m_Feed.releases; }
    const QUpdateFeed& feed() const { return m_Feed; }
    // Replaces what the last check found (tools, tests); not while a check runs.
    void setFeed(const QUpdateFeed& feed) { m_Feed = feed; }
    QString downloadUrl() const { return m_Feed.macUrl; }
    QString appName() const { return m_AppName; }
    QString currentVersion() const { return m_CurrentVersion; }
    QString language() const { return m_Language; }
    QIcon appIcon() const { return m_AppIcon; }
    QIcon trayIcon() const { return m_TrayIcon; }
    const QUpdateTexts& texts() const { return m_Texts; }
    QPreferences* preferences() const { return m_pPreferences; }
    bool isAutomatic() const { return m_bAutomatic; }
    bool isManual() const { return m_bManual; }
    QObject* openDialog() const { return m_pOpenDialog; }
    QObject* parentWidget() const { return parent(); }
    const QTimer& timer() const { return m_Timer; }
    bool isChecking() const { return m_Check.isRunning(); }

signals:
    void updateAvailable();
    void updateNotAvailable(int nCode);
    void quit();

public slots:
    void slotCheckForUpdate();
    void slotUpdateAvailable();
    void slotUpdateNotAvailable(int nCode);

protected:
    bool event(QEvent* pEvent) override;

private:
    void updateCheckThread();
    int runCheck();
    void scheduleNextCheck();
    void rearm();
    void stopTimerAndWait();
    // Keeps the signed downloads that hold; the releases shown end at the newest of them.
    void selectTrusted();
    qint64 nowMsecs() const;

    QUpdateTexts m_Texts;
    QUpdatePresenter* m_pPresenter = nullptr;
    bool m_bAutoShow = true;
    bool m_bFirstCall = true;
    bool m_bManual = false;
    bool m_bAutomatic = false;
    bool m_bRemindLater = false;
    QPointer<QObject> m_pOpenDialog;
    QTimer m_Timer;
    QPreferences* m_pPreferences;
    QIcon m_AppIcon;
    QIcon m_TrayIcon;
    QString m_AppName;
    QString m_FeedUrl;
    QString m_CurrentVersion;
    QString m_SkipVersion;
    int m_nIntervalHours = 0;
    int m_nStartDelaySecs = 0;
    QDateTime m_NextCheck;
    QPoolTask m_Check;
    QAbortableDownload m_Download; // the running check's, so that a stop can abort it
    QString m_Language;
    QList<QByteArray> m_PublicKeys;
    int m_nDeadlineMsecs = 60000;
    int m_nStallMsecs = 60000;
    // Written by the worker, read on the GUI thread after its result signal.
    QUpdateFeed m_Feed;
};
