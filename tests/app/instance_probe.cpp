// Starts the application object like the program does and reports on standard output:
// "ready" once it is the running instance, then "knock visible=N" for every later start
// (N: whether the knock brought the window forward). Exit code 1 when another instance runs.
//
// With "--die-holding-lock" it takes the single-instance lock and dies without releasing it,
// as a crash during start-up would.
#include "app/AppPlatform.h"
#include "app/app.h"
#include "ui/MainWindow.h"

#include <QSharedMemory>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
const int kSafetyTimeoutMs = 60000;

void say(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--die-holding-lock") == 0) {
        QSharedMemory lock(AppPlatformUtils::singleInstanceKey());
        if (!lock.create(1))
            return 2;
        say("locked");
        _exit(3); // no destructor: the segment stays behind
    }

    QThermoraApp app(argc, argv);
    if (app.isRunning())
        return 1;

    QFanControlMainWindow window;
    app.setMainWindow(&window);
    // Runs after the application's own slot, which restores the window.
    QObject::connect(&app, &QSingleApplication::anotherInstanceStarted, &app, [&window] {
        say(window.isVisible() ? "knock visible=1" : "knock visible=0");
        window.hide();
    });
    QTimer::singleShot(kSafetyTimeoutMs, &app, &QCoreApplication::quit);
    say("ready");
    const int nResult = app.exec();
    app.setMainWindow(nullptr);
    return nResult;
}
