// Opens the preferences and the about dialog over the SMC named by THERMORA_SMC_SOCKET (the
// simulator daemon), in the given language, and saves a picture of each as it is on screen:
//   thermora_dialog_showcase <folder> <language, e.g. German>
// Files: <folder>/preferences-<language>.png and <folder>/about-<language>.png.
#include "app/app.h"
#include "core/FanControl.h"
#include "core/QMySysInfo.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "smc/smc.h"
#include "ui/InfoDialog.h"
#include "ui/PreferencesDialog.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
bool saveShot(QWidget* pWidget, const QString& path)
{
    pWidget->show();
    if (!QTest::qWaitForWindowExposed(pWidget))
        return false;
    QTest::qWait(300); // let the window system paint it
    const QPixmap shot = pWidget->screen()->grabWindow(pWidget->winId());
    return shot.save(path);
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: thermora_dialog_showcase <folder> <language>\n");
        return 2;
    }
    QTemporaryDir settings;
    QPreferences prefs(settings.filePath("thermora.ini"));
    prefs.setInt("menubarIcon", 1);
    prefs.setString("traySensor", "TC0P");
    prefs.setInt("trayFan", 0);
    prefs.setInt("EnableLog", 1);
    prefs.setInt("Fahrenheit", 0);
    QCoreServices::setPreferences(&prefs);
    QMySysInfo sysInfo;
    QCoreServices::setSysInfo(&sysInfo);
    QLanguageLoader language{QLatin1String(kThermoraDefaultLanguage)};
    language.load(args.at(2) + ".xml");

    QSmcControl* pSmc = QSmcControl::instance();
    if (!pSmc->Open()) {
        std::fprintf(stderr, "no SMC: start thermora-smcsim and set THERMORA_SMC_SOCKET\n");
        return 1;
    }
    QFanControl controller(pSmc);
    controller.Init();
    for (int i = 0; i < controller.fanCount(); ++i)
        controller.UpdateFanInfo(i, false);

    const QString folder = args.at(1);
    QDir().mkpath(folder);
    QPreferencesDialog preferences(nullptr, &controller);
    QInfoDialog about(nullptr, &controller);
    const bool bOk =
        saveShot(&preferences, QDir(folder).filePath("preferences-" + args.at(2) + ".png")) &&
        saveShot(&about, QDir(folder).filePath("about-" + args.at(2) + ".png"));
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setSysInfo(nullptr);
    return bOk ? 0 : 1;
}
