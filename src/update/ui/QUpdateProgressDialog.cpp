#include "update/ui/QUpdateProgressDialog.h"

#include "QsLog/QsLog.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "helpers/SizeFormatUtils.h"
#include "helpers/ThreadHandoff.h"
#include "localization/QLanguageLoader.h"
#include "ui/GraphicHelpers.h"
#include "update/QHttpFileDownloader.h"
#include "update/QUpdateChecker.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QThreadPool>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QString executableOrSelf(const QString& executable)
{
    return executable.isEmpty() ? QCoreApplication::applicationFilePath() : executable;
}
} // namespace

QUpdateProgressDialog::QUpdateProgressDialog(QUpdateChecker* pChecker, QWidget* pParent,
                                             const QString& executable)
    : QDialogEx(pParent), m_pChecker(pChecker), m_Installer(executableOrSelf(executable)),
      m_Feed(pChecker->feed()), m_nStallMsecs(pChecker->stallTimeout())
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(m_pChecker->texts().get(QUpdateTexts::Updating).arg(m_pChecker->appName()));
    setupUI();
    adjustSize();
    setFixedWidth(385);
    connect(this, &QUpdateProgressDialog::progressUnpacking, this,
            &QUpdateProgressDialog::slotStatusUnpacking, Qt::QueuedConnection);
    connect(this, &QUpdateProgressDialog::progressReady, this,
            &QUpdateProgressDialog::slotStatusReady, Qt::QueuedConnection);
    connect(this, &QUpdateProgressDialog::progressFailed, this,
            &QUpdateProgressDialog::slotStatusFailed, Qt::QueuedConnection);
    connect(this, &QUpdateProgressDialog::installFinished, this,
            &QUpdateProgressDialog::slotInstallFinished, Qt::QueuedConnection);
    m_Worker.start(QThreadPool::globalInstance(), [this] { downloadThread(); });
}

QUpdateProgressDialog::~QUpdateProgressDialog()
{
    m_Download.abort();
    m_Installer.cancel();
    waitForWorker();
}

void QUpdateProgressDialog::setupUI()
{
    const QUpdateTexts& texts = m_pChecker->texts();
    QHBoxLayout* pMain = new QHBoxLayout(this);
    QLabel* pIcon = new QLabel(this);
    if (!m_pChecker->appIcon().isNull())
        pIcon->setPixmap(m_pChecker->appIcon().pixmap(64, 64));
    pIcon->setFixedSize(64, 64);
    pIcon->setAlignment(Qt::AlignTop);
    pMain->addWidget(pIcon, 0, Qt::AlignTop);

    QVBoxLayout* pRight = new QVBoxLayout();
    m_pHeading =
        new QLabel(QStringLiteral("<b>%1</b>").arg(texts.get(QUpdateTexts::Downloading)), this);
    m_pHeading->setWordWrap(true);
    m_pHeading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setTextVisible(false);
    m_pStatus = new QLabel(this);
    m_pInstallButton = new QPushButton(texts.get(QUpdateTexts::InstallAndRelaunch), this);
    m_pInstallButton->setVisible(false);
    m_pInstallButton->setDefault(true);
    m_pCancelButton = new QPushButton(texts.get(QUpdateTexts::Cancel), this);
    connect(m_pInstallButton, &QPushButton::clicked, this, &QUpdateProgressDialog::slotInstall);
    connect(m_pCancelButton, &QPushButton::clicked, this, &QUpdateProgressDialog::slotReject);
    QHBoxLayout* pRow = new QHBoxLayout();
    pRow->addWidget(m_pStatus);
    pRow->addStretch();
    pRow->addWidget(m_pInstallButton);
    pRow->addWidget(m_pCancelButton);
    pRight->addWidget(m_pHeading);
    pRight->addWidget(m_pProgress);
    pRight->addLayout(pRow);
    pMain->addLayout(pRight);
    pMain->setContentsMargins(8, 8, 8, 8);
}

QString QUpdateProgressDialog::formatSize(qint64 nBytes) const
{
    // The unit texts are read once per process.
    static const QStringList units = [this] {
        const QUpdateTexts& texts = m_pChecker->texts();
        return QStringList{
            texts.get(QUpdateTexts::UnitBytes), texts.get(QUpdateTexts::UnitKilobytes),
            texts.get(QUpdateTexts::UnitMegabytes), texts.get(QUpdateTexts::UnitGigabytes)};
    }();
    return SizeFormatUtils::formatSize(nBytes, units);
}

QString QUpdateProgressDialog::formatSizeStatus(qint64 nReceived, qint64 nTotal) const
{
    return m_pChecker->texts()
        .get(QUpdateTexts::SizeOfTotal)
        .arg(formatSize(nReceived), formatSize(nTotal));
}

void QUpdateProgressDialog::fail(const QString& message)
{
    ThreadHandoff::give(this);
    emit progressFailed(message);
}

bool QUpdateProgressDialog::selectDownload()
{
    const QString platform = m_Kind == QUpdateInstaller::PackageInstall ? QStringLiteral("deb")
                                                                        : QStringLiteral("linux");
    const QDateTime now = QCoreServices::clock()->now();
    for (const QUpdateDownload& download : qAsConst(m_Feed.downloads)) {
        QUpdateRecord record;
        if (UpdateRecordUtils::check(download.record, download.signature, m_pChecker->publicKeys(),
                                     now, m_pChecker->currentVersion(),
                                     &record) == UpdateRecordUtils::Trusted &&
            record.platform == platform && QUrl(download.url).fileName() == record.file) {
            m_TargetUrl = download.url;
            m_Record = record;
            return true;
        }
    }
    return false;
}

bool QUpdateProgressDialog::prepareUpdate(QString* pError)
{
    const bool bOk = m_Kind == QUpdateInstaller::TreeInstall
                         ? m_Installer.prepare(m_File.file(), m_Record)
                         : m_Installer.verifyFile(m_File.file(), m_Record);
    *pError = m_Installer.errorMessage();
    return bOk;
}

void QUpdateProgressDialog::downloadThread()
{
    ThreadHandoff::WorkerScope scope(this);
    m_Kind = m_Installer.kind();
    if (m_Kind == QUpdateInstaller::Unsupported || !selectDownload()) {
        fail(LocalizationHelpers::text(QStringLiteral("UpdateInstaller/errorUnsupported")));
        return;
    }
    QString error;
    if (!m_File.create(m_Record.file, &error)) {
        QLOG_WARN() << "QUpdateProgressDialog: no private download folder:" << error;
        return fail(LocalizationHelpers::text(QStringLiteral("UpdateInstaller/errorSave")));
    }
    m_ArchivePath = m_File.path();
    QHttpFileDownloader downloader(m_TargetUrl);
    // Never more than the signed size: a longer body is not the release.
    downloader.setMaxSize(m_Record.nSize);
    downloader.setSink(&m_File.file());
    downloader.setStallTimeout(m_nStallMsecs);
    connect(&downloader, &QHttpFileDownloader::downloadProgress, this,
            &QUpdateProgressDialog::slotDownloadProgress, Qt::QueuedConnection);
    m_Download.run(downloader);
    if (m_Download.aborted()) {
        m_File.remove();
        return;
    }
    if (downloader.error() != QNetworkReply::NoError || !m_File.file().flush()) {
        m_File.remove();
        return fail(m_pChecker->texts().get(QUpdateTexts::DownloadError));
    }
    ThreadHandoff::give(this);
    emit progressUnpacking();
    if (!prepareUpdate(&error)) {
        m_File.remove();
        return fail(error);
    }
    ThreadHandoff::give(this);
    emit progressReady();
}

void QUpdateProgressDialog::install()
{
    ThreadHandoff::WorkerScope scope(this);
    const bool bInstalled = m_Kind == QUpdateInstaller::TreeInstall
                                ? m_Installer.commit(m_Record)
                                : m_Installer.installPackage(m_File.file(), m_Record) ==
                                      QUpdateInstaller::PackageInstalled;
    m_File.remove();
    ThreadHandoff::give(this);
    emit installFinished(bInstalled);
}

bool QUpdateProgressDialog::event(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::MetaCall)
        ThreadHandoff::take(this);
    return QDialogEx::event(pEvent);
}

void QUpdateProgressDialog::waitForWorker()
{
    m_Worker.waitForFinished();
    ThreadHandoff::take(this);
}

void QUpdateProgressDialog::slotDownloadProgress(qint64 nReceived, qint64 nTotal)
{
    m_pProgress->setRange(0, static_cast<int>(qMin<qint64>(nTotal, INT_MAX)));
    m_pProgress->setValue(static_cast<int>(qMin<qint64>(nReceived, INT_MAX)));
    m_pStatus->setText(formatSizeStatus(nReceived, nTotal));
}

void QUpdateProgressDialog::slotStatusUnpacking()
{
    m_pStatus->clear();
    m_pProgress->setRange(0, 0);
    m_pHeading->setText(m_pChecker->texts().get(QUpdateTexts::Extracting));
}

void QUpdateProgressDialog::slotStatusReady()
{
    m_pStatus->clear();
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(100);
    m_pInstallButton->setVisible(true);
    m_pCancelButton->setVisible(false);
    m_pHeading->setText(
        QStringLiteral("<b>%1</b>").arg(m_pChecker->texts().get(QUpdateTexts::ReadyToInstall)));
}

void QUpdateProgressDialog::slotStatusFailed(const QString& message)
{
    QLOG_WARN() << "QUpdateProgressDialog:" << message;
    m_pStatus->clear();
    m_pProgress->setVisible(false);
    m_pInstallButton->setVisible(false);
    m_pCancelButton->setVisible(true);
    // The message may end in a command to run: every line shown, the dialog grown to fit.
    m_pHeading->setText(message.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
    adjustSize();
}

void QUpdateProgressDialog::slotInstall()
{
    m_pProgress->setRange(0, 0);
    m_pInstallButton->setEnabled(false);
    // Trying the new program, or the package manager behind its password prompt, takes time:
    // off the GUI thread.
    m_Worker.start(QThreadPool::globalInstance(), [this] { install(); });
}

void QUpdateProgressDialog::slotInstallFinished(bool bInstalled)
{
    if (!bInstalled) {
        slotStatusFailed(m_Installer.errorMessage());
        return;
    }
    m_Installer.relaunchAfterExit(QCoreApplication::applicationPid());
    done(QDialog::Accepted);
    // The exit that follows closes any open dialog as rejected; this one is done already.
    m_pChecker->setOpenDialog(nullptr);
    emit m_pChecker->quit();
}

void QUpdateProgressDialog::slotReject()
{
    m_Download.abort();
    m_Installer.cancel();
    waitForWorker();
    done(QDialog::Rejected);
}

void QUpdateProgressDialog::closeEvent(QCloseEvent* pEvent)
{
    slotReject();
    pEvent->accept();
}
