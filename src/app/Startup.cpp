#include "app/Startup.h"

#include "QsLog/QsLog.h"
#include "app/AppPlatform.h"
#include "app/app.h"
#include "smc/SmcGiveBackUtils.h"
#include "smc/smc.h"
#include "ui/MainWindow.h"

#include <QMessageBox>

#include <cstdio>
#include <memory>

namespace StartupUtils {

const char* const kUnsupportedHardwareText =
    "Unsupported hardware detected. The program is able to run on Apple hardware only.";
const char* const kNoInstanceGuardText =
    "Thermora cannot make sure that it runs only once: neither /tmp nor the folder named by "
    "XDG_RUNTIME_DIR can hold its instance lock. Two copies would both control the fans, so it "
    "does not start. Please make /tmp writable and start it again.";
const char* const kSmcErrorText =
    "Error initializing SMC layer, please make sure that your Mac system is supported and you "
    "have correctly installed the program.";

namespace {

// Also on standard error: someone starting the program from a terminal sees why it left.
void reportError(const QStartupHooks& hooks, const QString& title, const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    QLOG_ERROR() << text;
    if (hooks.showError)
        hooks.showError(title, text);
    else
        QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}

QString programTitle()
{
    return QLatin1String(kThermoraProgramName) + QLatin1Char(' ') + QLatin1String(kThermoraVersion);
}

bool openSmc()
{
    QSmcControl* pSmc = QSmcControl::instance();
    return pSmc && pSmc->Open();
}

} // namespace

bool isStartMinimized(const QStringList& arguments, bool bAutoStart)
{
    if (bAutoStart)
        return true;
    return arguments.size() == 2 && arguments.at(1) == QLatin1String("/minimized");
}

int run(int& argc, char** argv, const QStartupHooks& hooks)
{
    AppPlatformUtils::preferLeanGraphics();
    std::unique_ptr<QThermoraApp> pApp(new QThermoraApp(argc, argv, hooks.instanceKey));
    if (pApp->isRunning()) {
        QLOG_INFO() << "Another instance is running; leaving";
        std::fputs("thermora: already running; its window was brought to the front\n", stderr);
        return 1;
    }
    if (!pApp->hasGuard()) {
        reportError(hooks, programTitle(), QLatin1String(kNoInstanceGuardText));
        return 1;
    }

    QString fileSystem;
    const bool bSupported = hooks.checkFileSystem ? hooks.checkFileSystem(fileSystem)
                                                  : checkFileMacFilesystem(fileSystem);
    if (!bSupported) {
        QLOG_WARN() << "Read-only mode, file system" << fileSystem;
        pApp->setReadOnly(true, fileSystem);
    }
    pApp->setStartMinimized(isStartMinimized(QCoreApplication::arguments(), pApp->isAutoStart()));

    const QString machine =
        hooks.machineName ? hooks.machineName() : pApp->sysInfo()->machineName();
    if (machine.isEmpty()) {
        reportError(hooks, programTitle(), QLatin1String(kUnsupportedHardwareText));
        return 1;
    }
    if (!openSmc()) {
        reportError(hooks, QStringLiteral("Error"), QLatin1String(kSmcErrorText));
        QSmcControl::destroyInstance();
        return 1;
    }
    SmcGiveBackUtils::startIfWanted(pApp->preferences());

    std::unique_ptr<QFanControlMainWindow> pWindow(new QFanControlMainWindow());
    pApp->setMainWindow(pWindow.get());
    if (!pApp->isStartMinimized())
        pWindow->show();
    QObject::connect(pApp.get(), &QCoreApplication::aboutToQuit, pWindow.get(),
                     &QFanControlMainWindow::slotExit);
    QLOG_INFO() << "Main window created, start minimized:" << pApp->isStartMinimized();
    AppPlatformUtils::quitOnTerminationRequests();

    const int nResult = hooks.exec ? hooks.exec() : QApplication::exec();

    pApp->setMainWindow(nullptr);
    pWindow.reset();
    QSmcControl::destroyInstance();
    pApp.reset();
    return nResult;
}

} // namespace StartupUtils
