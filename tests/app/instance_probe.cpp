// Starts the application object like the program does and prints "ready" once it is the
// running instance, then "knock visible=N" for every later start (N: whether the knock brought
// the window forward). Exit code 1 when another instance runs, 3 ("no guard") when there is no
// place for the single-instance check. With "--squat KEY" it plays
// another user who took the name first: holds KEY's lock, listens, prints "squatting", "knock".
#include "app/AppPlatform.h"
#include "app/app.h"
#include "ui/MainWindow.h"

#include <QLocalServer>
#include <QTimer>

#include <cstdio>
#include <cstring>

static const int kSafetyTimeoutMs = 60000;

static void say(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

static int squat(int argc, char** argv, const QString& key)
{
    QCoreApplication app(argc, argv);
    AppPlatformUtils::QInstanceLock lock(key);
    QLocalServer server;
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (lock.tryLock() != AppPlatformUtils::QInstanceLock::Acquired || !server.listen(key))
        return 2;
    QObject::connect(&server, &QLocalServer::newConnection, [] { say("knock"); });
    QTimer::singleShot(kSafetyTimeoutMs, &app, &QCoreApplication::quit);
    say("squatting");
    return app.exec();
}

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--squat") == 0)
        return squat(argc, argv, QString::fromLocal8Bit(argv[2]));

    QThermoraApp app(argc, argv);
    if (app.isRunning())
        return 1;
    if (!app.hasGuard()) {
        say("no guard");
        return 3;
    }

    QFanControlMainWindow window;
    app.setMainWindow(&window);
    // Runs after the application's own slot, which restores the window.
    QObject::connect(&app, &QSingleApplication::anotherInstanceStarted, &app, [&window] {
        say(window.isVisible() ? "knock visible=1" : "knock visible=0");
        window.hide();
    });
    QTimer::singleShot(kSafetyTimeoutMs, &app, &QCoreApplication::quit);
    AppPlatformUtils::quitOnTerminationRequests();
    say("ready");
    const int nResult = app.exec();
    app.setMainWindow(nullptr);
    return nResult;
}
