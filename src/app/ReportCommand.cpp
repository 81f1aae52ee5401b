#include "app/ReportCommand.h"

#include "QsLog/QsLog.h"
#include "app/Startup.h"
#include "app/TechInfoReport.h"
#include "core/FanControl.h"
#include "core/QMySysInfo.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "smc/QSmcControlMac.h"
#include "smc/smc.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The controller's start-up stores what it discovers; it works on a copy of the user's
// settings (same stored modes and names), so that the report changes nothing on disk.
std::unique_ptr<QPreferences> copyOfUserSettings(const QTemporaryDir& dir)
{
    const QString userFile = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("brightfold"), QStringLiteral("thermora"))
                                 .fileName();
    const QString copy = dir.filePath(QStringLiteral("thermora.conf"));
    if (!dir.isValid() || (QFile::exists(userFile) && !QFile::copy(userFile, copy)))
        return std::make_unique<QPreferences>(nullptr); // no store: every value reads as not set
    return std::make_unique<QPreferences>(copy);
}

} // namespace

bool ReportCommandUtils::isReportRequested(int argc, char** argv)
{
    return argc == 2 && argv[1] && std::strcmp(argv[1], "--report") == 0;
}

int ReportCommandUtils::printReport(int& argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::OffLevel);
    const QTemporaryDir dir;
    const std::unique_ptr<QPreferences> pPrefs = copyOfUserSettings(dir);
    QCoreServices::setPreferences(pPrefs.get());
    QMySysInfo sysInfo;
    QCoreServices::setSysInfo(&sysInfo);
    sysInfo.machineName(); // the model, before the sensor table is read for this machine

    int nResult = 1;
    QSmcControl* pSmc = QSmcControl::instance();
    if (!pSmc || !pSmc->Open()) {
        std::fprintf(stderr, "%s\n", StartupUtils::kSmcErrorText);
    } else {
        // Reading only: the restored modes must not reach the fans from here.
        if (auto* pMac = dynamic_cast<QSmcControlMac*>(pSmc))
            pMac->setWriter([](const QString&, const QString&) {});
        QFanControl controller(pSmc);
        controller.Init();
        for (int i = 0; i < controller.fanCount(); ++i)
            controller.UpdateFanInfo(i, false);
        const QString report = TechInfoUtils::technicalReport(controller, &sysInfo);
        std::fputs(report.toUtf8().constData(), stdout);
        std::fflush(stdout);
        nResult = 0;
    }
    QSmcControl::destroyInstance();
    QCoreServices::setSysInfo(nullptr);
    QCoreServices::setPreferences(nullptr);
    return nResult;
}
