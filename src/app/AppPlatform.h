#pragma once

#include <QString>

class QMainWindow;

// What start-up needs from the operating system beyond the toolkit. Each platform folder
// implements these once.
namespace AppPlatformUtils {

// Shared-memory key and local server name that keep one instance per user.
QString singleInstanceKey();

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

} // namespace AppPlatformUtils
