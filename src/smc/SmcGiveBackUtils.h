#pragma once

#include <QString>

class QPreferences;

// The opt-in give-back of the fans. By default the program writes nothing at exit, so fans
// under manual control keep their last target. With the setting "GiveBackFans" at 1, start-up
// runs the key-writing tool as a watch ("smc --give-back") that holds a pipe from the program:
// when the program ends in any way (exit, crash, SIGKILL) the kernel closes the pipe and the
// tool hands every fan back to the system ("FS! " to 0). The GUI thread's event loop sends a
// heartbeat byte on the pipe every second; after 10 s without one (a hung or stopped program)
// the watch gives the fans back too, and the program's next control pass takes them again. A
// watch that ends is noticed at the next heartbeat, logged, reaped and replaced.
namespace SmcGiveBackUtils {

// int setting, 0 (the default, written when missing) = off, 1 = on.
extern const char kGiveBackSetting[];

// Reads the setting, writing its default when it is missing; true when it is on.
bool isWanted(QPreferences* pPreferences);

// Starts the tool's watch in its own process group (a terminal's interrupt does not reach it)
// with the read end of a pipe as its standard input; this process keeps the write end open
// for the rest of its life. Returns the watch's process id, or -1 (logged) when it cannot be
// started. A second call while a watch runs returns the running one's id. Call it on the GUI
// thread, whose event loop then sends the heartbeat.
qint64 startWatch(const QString& toolPath);

// Start-up: starts the watch when the setting is on and the tool exists.
void startIfWanted(QPreferences* pPreferences);

// Ends a running watch without giving the fans back (it is told to keep them, then its pipe
// closes) and waits for it; nothing when no watch runs.
void stopWatch();

// After the user changed the setting: starts the watch when it is on, stops it when it is off.
void followSetting(QPreferences* pPreferences);

} // namespace SmcGiveBackUtils
