#pragma once

#include <QString>

#include <memory>

class QMainWindow;

// What start-up needs from the operating system beyond the toolkit. Each platform folder
// implements these once.
namespace AppPlatformUtils {

// The local server name that keeps one instance per user. The same for every start of this
// user whatever its environment, and out of reach of other users. Empty when no such name can
// be had: the program then runs without the single-instance check.
QString singleInstanceKey();

// Why no window can be shown at all (no display to connect to), as one line for the user;
// empty when the toolkit can be started. Asked before the application object exists, whose
// toolkit would otherwise end the process without a word of its own.
QString missingDisplayReason();

// Turns off what a widgets program does not need and would only load (the OpenGL stack),
// unless the user asked for it. Must run before the application object exists.
void preferLeanGraphics();

// The file system that holds the folder: its type name and whether set-user-ID bits are
// ignored there. False when the folder cannot be examined.
bool queryFileSystem(const QString& folder, QString& typeName, bool& bNoSuid);
// Whether the set-user-ID key-writing tool can work from a file system of that kind.
bool isSupportedFileSystem(const QString& typeName, bool bNoSuid);

// The user's login items: is this program among them, add it, remove it. Adding an item
// that is there already and removing one that is not do nothing.
bool isAutoStartInstalled();
void installAutoStart();
void removeAutoStart();

// Brings this program in front of every other application.
void activateApplication(QMainWindow* pWindow);

// Turns the system's polite requests to end the process (logout, service stop, Ctrl+C) into
// an ordinary application quit, so that shut-down runs as after the Exit command.
void quitOnTerminationRequests();

// The start-up lock of the single-instance key: held by the running instance for its whole
// life, so a second start knows at once that it is not the first, and a crash leaves nothing.
class QInstanceLock
{
public:
    enum Result
    {
        Acquired,   // this process is the first
        Busy,       // another process of this user holds it
        Unavailable // no lock can be had here; go on unguarded
    };
    explicit QInstanceLock(const QString& key);
    ~QInstanceLock();
    QInstanceLock(const QInstanceLock&) = delete;
    QInstanceLock& operator=(const QInstanceLock&) = delete;

    Result tryLock();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace AppPlatformUtils
