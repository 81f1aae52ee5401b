// Shows the menu-bar item in every form at once, saves each form's picture as a PNG in the
// folder given, and quits after the given number of seconds.
//   thermora_tray_showcase <folder> [seconds] [--menu <form index>]
#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"
#include "SystemTrayIconEx/qsystemtrayicon.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {
struct Form
{
    const char* name;
    int showIcon;
    bool bGrey;
    int flags;
    double celsius;
    int rpm;
    bool bPrecise;
    bool bFahrenheit;
};

const Form kForms[] = {
    {"icon", 1, false, 0, 0, 0, false, false},
    {"icon-grey", 1, true, 0, 0, 0, false, false},
    {"temperature", 1, false, 1, 45.4, 0, false, false},
    {"temperature-precise", 1, false, 1, 45.4, 0, true, false},
    {"temperature-fahrenheit", 1, false, 1, 45.5, 0, false, true},
    {"speed", 1, false, 2, 0, 1834, false, false},
    {"both", 1, false, 3, 45.4, 1834, false, false},
    {"both-no-icon", 0, false, 3, 45.4, 1834, false, false},
    {"temperature-no-icon", 0, false, 1, 45.4, 0, false, false},
};
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s <folder> [seconds] [--menu <form index>]\n", argv[0]);
        return 2;
    }
    const QDir folder(args.at(1));
    QDir().mkpath(folder.path());
    const int seconds = args.size() > 2 ? args.at(2).toInt() : 5;
    const int menuForm = args.indexOf(QStringLiteral("--menu")) > 0
                             ? args.at(args.indexOf(QStringLiteral("--menu")) + 1).toInt()
                             : -1;

    QTemporaryDir settingsDir;
    QPreferences preferences(settingsDir.filePath(QStringLiteral("showcase.ini")));
    QCoreServices::setPreferences(&preferences);

    // The items live in a window, as they do in the program, so they go before the application.
    QWidget window;
    QMenu menu;
    menu.addAction(QStringLiteral("Show Thermora"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("Exit"));

    int index = 0;
    for (const Form& form : kForms) {
        preferences.setInt(QStringLiteral("Fahrenheit"), form.bFahrenheit ? 1 : 0);
        auto* pItem = new QSystemTrayIconEx(&window);
        pItem->setIcon(QMyTrayIcon::getTrayIconPic(form.bGrey));
        pItem->setToolTip(QString::fromLatin1(form.name));
        pItem->setContextMenu(&menu);
        pItem->setVisible(true);
        pItem->setShowMacIcon(form.showIcon);
        pItem->setMacTemp(form.celsius);
        pItem->setMacRPM(form.rpm);
        pItem->setMacTrayIcon(form.flags, form.bPrecise);
        auto* pQtLayer = qobject_cast<QQtSystemTrayIconEx*>(pItem->platformTrayIcon());
        if (index == menuForm) {
            // Once the tray has taken the item in.
            QTimer::singleShot(1500, pQtLayer, [pQtLayer] {
                QCursor::setPos(200, 13);
                pQtLayer->OnActivated(QSystemTrayIcon::Trigger);
            });
        }
        const QString file = folder.filePath(QStringLiteral("%1-%2.png").arg(index).arg(form.name));
        pQtLayer->renderedImage().save(file);
        ++index;
    }
    std::printf("system tray available: %s\n",
                QSystemTrayIconEx::isSystemTrayAvailable() ? "yes" : "no");
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
