#include "update/QUpdateChecker.h"

#include "QsLog/QsLog.h"
#include "helpers/CompressionUtils.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "helpers/ThreadHandoff.h"
#include "settings/QPreferences.h"
#include "update/FvVersionComparator.h"
#include "update/QHttpFileDownloader.h"
#include "update/UpdateConfig.h"
#include "update/UpdateRecord.h"

#include <QEvent>
#include <QNetworkReply>
#include <QThreadPool>
#include <QUrl>

namespace {
const char* const kNextCheckKey = "UpdateChecker_NextCheck";
const char* const kSkipVersionKey = "UpdateChecker_SkipVersion";
const char* const kAutoKey = "UpdateChecker_Auto";
const qint64 kMsecsPerHour = 3600000;
// A feed is a few kilobytes; anything far larger is not one.
const qint64 kMaxFeedBytes = 4 * 1024 * 1024;
const qint64 kMaxFeedXmlBytes = 16 * 1024 * 1024;
} // namespace

QUpdateChecker::QUpdateChecker(const QString& feedUrl, const QString& appName,
                               const QString& currentVersion, QPreferences* pPreferences,
                               QObject* pParent)
    : QObject(pParent), m_pPreferences(pPreferences), m_AppName(appName), m_FeedUrl(feedUrl),
      m_CurrentVersion(currentVersion), m_PublicKeys(UpdateConfig::publicKeys())
{
    m_Texts.update();
    m_Timer.setSingleShot(true);
    connect(&m_Timer, &QTimer::timeout, this, &QUpdateChecker::slotCheckForUpdate);
    m_Language = QLocale::system().language() == QLocale::Russian ? QStringLiteral("ru")
                                                                  : QStringLiteral("en");
    // The worker emits these; they run queued on the GUI thread.
    connect(this, &QUpdateChecker::updateNotAvailable, this,
            &QUpdateChecker::slotUpdateNotAvailable, Qt::QueuedConnection);
    connect(this, &QUpdateChecker::updateAvailable, this, &QUpdateChecker::slotUpdateAvailable,
            Qt::QueuedConnection);
}

QUpdateChecker::~QUpdateChecker()
{
    m_Download.abort();
    m_Check.waitForFinished();
    ThreadHandoff::take(this);
}

qint64 QUpdateChecker::nowMsecs() const
{
    return QCoreServices::clock()->msecsSinceEpoch();
}

void QUpdateChecker::stopTimerAndWait()
{
    m_Timer.stop();
    m_Check.waitForFinished();
    ThreadHandoff::take(this);
}

void QUpdateChecker::checkForUpdate(bool bManual, unsigned int nHours, bool, QObject*)
{
    if (m_pOpenDialog)
        return;
    m_bManual = false;
    // A running check is abandoned at once, never waited for while it stalls.
    if (m_Check.isRunning())
        m_Download.abort();
    if (m_Timer.isActive() || m_Check.isRunning())
        stopTimerAndWait();
    m_Download.reset();
    m_bManual = bManual;
    if (bManual) {
        m_NextCheck = QDateTime();
        m_SkipVersion.clear();
        if (m_pPreferences) {
            m_pPreferences->remove(QLatin1String(kNextCheckKey));
            m_pPreferences->remove(QLatin1String(kSkipVersionKey));
        }
    } else {
        m_bAutomatic = nHours != 0;
        const int nAuto = m_pPreferences ? m_pPreferences->getInt(QLatin1String(kAutoKey), -1) : -1;
        if (nHours != 0 && nAuto == -1 && m_pPreferences)
            m_pPreferences->setInt(QLatin1String(kAutoKey), 1);
        if (nAuto == 0)
            m_bAutomatic = false;
        m_nIntervalHours = static_cast<int>(nHours);
    }

    const qint64 nNow = nowMsecs();
    const QDateTime stored =
        m_pPreferences ? m_pPreferences->getDateTime(QLatin1String(kNextCheckKey)) : QDateTime();
    if (stored.isValid() && stored.toMSecsSinceEpoch() > nNow) {
        m_NextCheck = stored;
    } else {
        m_NextCheck = QDateTime();
        if (m_pPreferences)
            m_pPreferences->remove(QLatin1String(kNextCheckKey));
    }

    qint64 nDelay = (m_bFirstCall && m_nStartDelaySecs != 0) ? m_nStartDelaySecs * 1000LL : 0;
    if (m_NextCheck.isValid())
        nDelay = (m_NextCheck.toMSecsSinceEpoch() - nNow) / 1000 * 1000;
    // Automatic checks switched off: nothing happens at start-up.
    const bool bSwitchedOff = m_bFirstCall && m_nIntervalHours != 0 && !m_bAutomatic;
    if (!bSwitchedOff)
        m_Timer.start(static_cast<int>(qMin<qint64>(nDelay, INT_MAX)));
    m_bFirstCall = false;
}

void QUpdateChecker::slotCheckForUpdate()
{
    m_SkipVersion =
        m_pPreferences ? m_pPreferences->getString(QLatin1String(kSkipVersionKey)) : QString();
    m_Check.start(QThreadPool::globalInstance(), [this] { updateCheckThread(); });
}

int QUpdateChecker::runCheck()
{
    if (m_FeedUrl.isEmpty())
        return FeedNotFound;
    QHttpFileDownloader downloader(m_FeedUrl);
    downloader.setMaxSize(kMaxFeedBytes);
    downloader.setDeadline(m_nDeadlineMsecs);
    m_Download.run(downloader);
    if (downloader.error() == QNetworkReply::ContentNotFoundError)
        return FeedNotFound;
    if (downloader.error() != QNetworkReply::NoError)
        return DownloadFailed;
    if (downloader.data().isEmpty())
        return FeedNotFound;
    const QByteArray xml = CompressionUtils::DecompressByteArray(
        downloader.data(), CompressionUtils::GZIP, kMaxFeedXmlBytes);
    if (xml.isEmpty())
        return NotCompressed;
    const QDate today = QCoreServices::clock()->now().date();
    if (!UpdateFeedUtils::parseFeed(xml, m_CurrentVersion, m_Language, today, &m_Feed))
        return BadXml;
    selectTrusted();
    return UpToDate;
}

void QUpdateChecker::selectTrusted()
{
    const QDateTime now = QCoreServices::clock()->now();
    QVector<QUpdateDownload> trusted;
    QString offered;
    for (const QUpdateDownload& download : qAsConst(m_Feed.downloads)) {
        QUpdateRecord record;
        UpdateRecordUtils::Verdict verdict = UpdateRecordUtils::check(
            download.record, download.signature, m_PublicKeys, now, m_CurrentVersion, &record);
        // The address may change, the file it names may not.
        if (verdict == UpdateRecordUtils::Trusted && QUrl(download.url).fileName() != record.file)
            verdict = UpdateRecordUtils::Malformed;
        if (verdict != UpdateRecordUtils::Trusted) {
            QLOG_WARN() << "QUpdateChecker: release at" << download.url
                        << "not offered:" << UpdateRecordUtils::verdictText(verdict);
            continue;
        }
        trusted << download;
        if (offered.isEmpty() || FvVersionComparator::CompareVersions(record.version.toStdString(),
                                                                      offered.toStdString()) ==
                                     FvVersionComparator::kDescending)
            offered = record.version;
    }
    m_Feed.downloads = trusted;
    QVector<QUpdateRelease>& releases = m_Feed.releases;
    if (offered.isEmpty()) {
        releases.clear();
        return;
    }
    // Notes of versions past the signed one describe nothing that can be installed.
    while (!releases.isEmpty() && FvVersionComparator::CompareVersions(
                                      releases.first().version.toStdString(),
                                      offered.toStdString()) == FvVersionComparator::kDescending)
        releases.removeFirst();
    if (releases.isEmpty() || releases.first().version != offered)
        releases.prepend(QUpdateRelease{offered, QDate(), {}});
}

void QUpdateChecker::updateCheckThread()
{
    ThreadHandoff::WorkerScope scope(this);
    m_Feed = QUpdateFeed();
    const int nCode = runCheck();
    if (m_Download.aborted())
        return;
    const bool bAvailable = nCode == UpToDate && !m_Feed.releases.isEmpty() &&
                            m_Feed.releases.first().version != m_SkipVersion;
    QLOG_INFO() << "QUpdateChecker: check finished, code" << nCode << "update" << bAvailable;
    ThreadHandoff::give(this);
    if (bAvailable)
        emit updateAvailable();
    else
        emit updateNotAvailable(nCode);
}

bool QUpdateChecker::event(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::MetaCall)
        ThreadHandoff::take(this);
    return QObject::event(pEvent);
}

void QUpdateChecker::slotUpdateAvailable()
{
    if (m_bAutoShow && m_pPresenter)
        m_pPresenter->showUpdates(this);
}

void QUpdateChecker::slotUpdateNotAvailable(int nCode)
{
    if (m_bManual && m_pPresenter)
        m_pPresenter->showResult(this, nCode);
    scheduleNextCheck();
    rearm();
}

void QUpdateChecker::scheduleNextCheck()
{
    m_NextCheck = QDateTime::fromMSecsSinceEpoch(nowMsecs() + m_nIntervalHours * kMsecsPerHour);
    if (m_pPreferences)
        m_pPreferences->setDateTime(QLatin1String(kNextCheckKey), m_NextCheck);
}

void QUpdateChecker::rearm()
{
    m_bManual = false;
    m_Download.reset();
    if (m_nIntervalHours != 0 && (m_bAutomatic || m_bRemindLater))
        m_Timer.start(static_cast<int>(qMin<qint64>(m_nIntervalHours * kMsecsPerHour, INT_MAX)));
}

void QUpdateChecker::remindLater()
{
    m_bRemindLater = true;
    scheduleNextCheck();
    rearm();
    m_bRemindLater = false;
}

void QUpdateChecker::skipCurrentVersion()
{
    const QString version = m_Feed.releases.isEmpty() ? QString() : m_Feed.releases.first().version;
    if (m_pPreferences)
        m_pPreferences->setString(QLatin1String(kSkipVersionKey), version);
    rearm();
}

void QUpdateChecker::stopAndWaitForFinished()
{
    if (m_pOpenDialog)
        QMetaObject::invokeMethod(m_pOpenDialog, "reject", Qt::DirectConnection);
    m_pOpenDialog = nullptr;
    m_Timer.stop();
    if (m_Check.isRunning())
        m_Download.abort();
    m_Check.waitForFinished();
    ThreadHandoff::take(this);
}
