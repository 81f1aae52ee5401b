#include "smc/SmcGiveBackUtils.h"

#include "QsLog/QsLog.h"
#include "settings/QPreferences.h"
#include "smc/SmcToolUtils.h"

#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace SmcGiveBackUtils {

const char kGiveBackSetting[] = "GiveBackFans";

namespace {
std::mutex g_Mutex;
qint64 g_nWatchPid = -1;
int g_nPipeFd = -1; // the write end of the watch's pipe

// Both ends close on exec: no other child of the program (the writes' tool runs) may keep the
// write end, or the pipe would outlive the program. The spawn duplicates the read end onto
// the watch's standard input, which survives its exec.
qint64 spawnWatch(const QByteArray& tool, int& nPipeFd)
{
    int fds[2];
    if (pipe(fds) != 0 || fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0) {
        QLOG_ERROR() << "Give-back: no pipe:" << strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    char arg0[] = "smc";
    char arg1[] = "--give-back";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = -1;
    const int nError = posix_spawn(&pid, tool.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    if (nError != 0) {
        ::close(fds[1]);
        QLOG_ERROR() << "Give-back: cannot start" << tool << strerror(nError);
        return -1;
    }
    // fds[1] stays open on purpose until the process ends (or the watch is stopped).
    nPipeFd = fds[1];
    return pid;
}

// Tells the watch to keep the fans. A watch that has ended already must not take the program
// with it: SIGPIPE is held back for this one write, and the one it raised is taken.
bool sendKeep(int fd)
{
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const bool bSent = ::write(fd, "k", 1) == 1;
    sigset_t pending;
    int nSignal = 0;
    if (!bSent && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1)
        sigwait(&pipeSignal, &nSignal);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return bSent;
}
} // namespace

bool isWanted(QPreferences* pPreferences)
{
    if (!pPreferences)
        return false;
    const int nValue = pPreferences->getInt(QLatin1String(kGiveBackSetting), -1);
    if (nValue == -1) {
        pPreferences->setInt(QLatin1String(kGiveBackSetting), 0);
        return false;
    }
    return nValue == 1;
}

qint64 startWatch(const QString& toolPath)
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    if (g_nWatchPid < 0)
        g_nWatchPid = spawnWatch(QFile::encodeName(toolPath), g_nPipeFd);
    return g_nWatchPid;
}

void startIfWanted(QPreferences* pPreferences)
{
    if (!isWanted(pPreferences))
        return;
    const QString tool = SmcToolUtils::toolPath();
    if (tool.isEmpty() || !QFileInfo(tool).isExecutable()) {
        QLOG_ERROR() << "Give-back: no key-writing tool at" << tool
                     << "- the fans are not given back";
        return;
    }
    const qint64 nPid = startWatch(tool);
    if (nPid > 0)
        QLOG_INFO() << "Give-back: watch" << nPid << "hands the fans back when the program ends";
}

void stopWatch()
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    if (g_nWatchPid < 0)
        return;
    const bool bSent = sendKeep(g_nPipeFd);
    ::close(g_nPipeFd);
    if (!bSent)
        QLOG_WARN() << "Give-back: the watch could not be told to keep the fans (it has ended)";
    while (::waitpid(pid_t(g_nWatchPid), nullptr, 0) < 0 && errno == EINTR) {
    }
    QLOG_INFO() << "Give-back: watch" << g_nWatchPid << "stopped";
    g_nWatchPid = -1;
    g_nPipeFd = -1;
}

void followSetting(QPreferences* pPreferences)
{
    if (isWanted(pPreferences))
        startIfWanted(pPreferences);
    else
        stopWatch();
}

} // namespace SmcGiveBackUtils
