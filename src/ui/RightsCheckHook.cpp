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
#include <memory>
#include <mutex>

namespace {

// Closed-box flag shared by the worker that waits and the GUI thread that shows the box; it
// outlives whichever of the two gives up first.
struct QWarningState
{
    std::mutex mutex;
    std::condition_variable closed;
    bool bClosed = false;
};

// Steps in which a waiting worker looks at its stop request.
constexpr auto kStopPollStep = std::chrono::milliseconds(50);

void showFromWorker(QWidget* pParent, const std::function<bool()>& stopRequested)
{
    auto pState = std::make_shared<QWarningState>();
    QObject* pContext = pParent ? static_cast<QObject*>(pParent) : QCoreApplication::instance();
    if (!pContext)
        return;
    // Queued with the parent as context: a parent gone before the event is delivered drops it.
    QMetaObject::invokeMethod(
        pContext,
        [pParent, pState] {
            RightsCheckUtils::showRightsWarning(pParent);
            std::lock_guard<std::mutex> lock(pState->mutex);
            pState->bClosed = true;
            pState->closed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(pState->mutex);
    while (!pState->bClosed) {
        if (stopRequested && stopRequested())
            return;
        pState->closed.wait_for(lock, kStopPollStep);
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
