#include "ui/RightsCheckHook.h"

#include "QsLog/QsLog.h"
#include "app/app.h"
#include "localization/QLanguageLoader.h"
#include "smc/SmcRightsUtils.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Warnings asked for by worker threads and shown on the GUI thread. The request travels in here,
// under the lock, not inside the queued call: Qt's event queue is invisible to the thread
// sanitizer, a lock of our own is not.
struct QWarningRequests
{
    std::mutex mutex;
    std::condition_variable closed;
    QWidget* pParent = nullptr;
    quint64 nRequested = 0;
    quint64 nClosed = 0;
};

QWarningRequests& requests()
{
    static QWarningRequests instance;
    return instance;
}

// Steps in which a waiting worker looks at its stop request.
constexpr auto kStopPollStep = std::chrono::milliseconds(50);

void showRequestedWarning()
{
    QWarningRequests& r = requests();
    QWidget* pParent = nullptr;
    quint64 nServed = 0;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        pParent = r.pParent;
        nServed = r.nRequested;
    }
    RightsCheckUtils::showRightsWarning(pParent);
    // Also answers earlier requests whose call was dropped with its parent.
    std::lock_guard<std::mutex> lock(r.mutex);
    r.nClosed = qMax(r.nClosed, nServed);
    r.closed.notify_all();
}

void showFromWorker(QWidget* pParent, const std::function<bool()>& stopRequested)
{
    QObject* pContext = pParent ? static_cast<QObject*>(pParent) : QCoreApplication::instance();
    if (!pContext)
        return;
    QWarningRequests& r = requests();
    quint64 nTicket = 0;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.pParent = pParent;
        nTicket = ++r.nRequested;
    }
    // Queued with the parent as context: a parent gone before the event is delivered drops it
    // (its owner stops this worker first).
    QMetaObject::invokeMethod(
        pContext, [] { showRequestedWarning(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(r.mutex);
    while (r.nClosed < nTicket) {
        if (stopRequested && stopRequested())
            return;
        r.closed.wait_for(lock, kStopPollStep);
    }
}

} // namespace

void RightsCheckUtils::showRightsWarning(QWidget* pParent)
{
    // On the heap: a parent destroyed while the box runs (the program ends) takes it along.
    QPointer<QMessageBox> pBox = new QMessageBox(
        QMessageBox::Warning, QLatin1String(kThermoraProgramName),
        LocalizationHelpers::text(QStringLiteral("MainWindow/messageUnableToAccessSMC")),
        QMessageBox::Ok, pParent);
    pBox->setObjectName(QStringLiteral("rightsWarning"));
    pBox->setWindowModality(pParent ? Qt::WindowModal : Qt::ApplicationModal);
    pBox->exec();
    delete pBox.data();
}

void RightsCheckUtils::checkRightsAndWarnIfNeeded(QWidget* pParent, bool& bAsked,
                                                  const std::function<bool()>& stopRequested)
{
    if (!SmcRightsUtils::isToolUsed() || SmcRightsUtils::checkRights())
        return;
    bAsked = true;
    // The prompt is waited for, so its outcome is on disk when it returns: no grace period.
    SmcRightsUtils::setRights();
    if (SmcRightsUtils::checkRights())
        return;
    QLOG_WARN() << "The key-writing tool has no write rights: fan commands will have no effect";
    QCoreApplication* pApp = QCoreApplication::instance();
    if (!pApp)
        return;
    if (QThread::currentThread() == pApp->thread())
        showRightsWarning(pParent);
    else
        showFromWorker(pParent, stopRequested);
}
