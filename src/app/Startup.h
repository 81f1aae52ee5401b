#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The parts of start-up that talk to the user or block, replaceable so that tests can run
// the whole start-up in-process.
struct QStartupHooks
{
    // Shows a start-up error. Default: a warning message box without parent, one OK button.
    std::function<void(const QString& title, const QString& text)> showError;
    // The machine's model identifier. Default: the application's machine information.
    std::function<QString()> machineName;
    // The file-system test of the program's folder. Default: checkFileMacFilesystem.
    std::function<bool(QString& fileSystemName)> checkFileSystem;
    // Runs the event loop once the window exists. Default: QApplication::exec().
    std::function<int()> exec;
    // The single-instance key. Default (empty): this user's own.
    QString instanceKey;
};

namespace StartupUtils {

extern const char* const kUnsupportedHardwareText;
extern const char* const kSmcErrorText;
extern const char* const kNoInstanceGuardText;

// Hidden at start when launched with exactly the one argument "/minimized" (arguments include
// the program path) or whenever the program starts at login.
bool isStartMinimized(const QStringList& arguments, bool bAutoStart);

// The whole program: application object, checks, main window, event loop. Returns the
// process exit code (1 for a second instance, unsupported hardware or no SMC).
int run(int& argc, char** argv, const QStartupHooks& hooks = QStartupHooks());

} // namespace StartupUtils
