#include "smc/SmcGiveBackUtils.h"

#include "QsLog/QsLog.h"
#include "settings/QPreferences.h"
#include "smc/SmcToolUtils.h"

#include "smc/base/SmcKeyToolUtils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>

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
// A watch that ends this soon after its start is taken for one that cannot run (a tool without
// its rights, a driver that is gone); after kMaxQuickEnds of them in a row none is started.
constexpr qint64 kQuickEndMs = 10000;
constexpr int kMaxQuickEnds = 3;

std::mutex g_Mutex;
qint64 g_nWatchPid = -1;
int g_nPipeFd = -1; // the write end of the watch's pipe
QByteArray g_Tool;  // the tool the watch runs
QElapsedTimer g_Started;
int g_nQuickEnds = 0;
QPointer<QTimer> g_pHeartbeat;

// Both ends close on exec: no other child of the program (the writes' tool runs) may keep the
// write end, or the pipe would outlive the program. The spawn duplicates the read end onto
// the watch's standard input, which survives its exec. The write end does not block: a watch
// that is stopped must not stop the program's heartbeat with it.
qint64 spawnWatch(const QByteArray& tool, int& nPipeFd)
{
    int fds[2];
    if (pipe(fds) != 0 || fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0 || fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
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

// Sends one byte to the watch; false when it has closed its end (ended). A watch that has
// ended must not take the program with it: SIGPIPE is held back for this one write, and the
// one it raised is taken. A full pipe (the watch is stopped) counts as sent.
bool sendByte(int fd, char c)
{
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const bool bSent = ::write(fd, &c, 1) == 1 || errno == EAGAIN || errno == EINTR;
    sigset_t pending;
    int nSignal = 0;
    if (!bSent && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1)
        sigwait(&pipeSignal, &nSignal);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return bSent;
}

void startLocked()
{
    g_nWatchPid = spawnWatch(g_Tool, g_nPipeFd);
    g_Started.start();
    if (g_nWatchPid > 0 && g_pHeartbeat)
        QMetaObject::invokeMethod(g_pHeartbeat, "start", Qt::AutoConnection);
}

void forgetLocked()
{
    ::close(g_nPipeFd);
    g_nWatchPid = -1;
    g_nPipeFd = -1;
    if (g_pHeartbeat)
        QMetaObject::invokeMethod(g_pHeartbeat, "stop", Qt::AutoConnection);
}

// One heartbeat, from the GUI thread's event loop: a hung GUI thread, or a stopped program,
// sends none, and the watch gives the fans back. A watch found ended (its pipe closed, or
// reaped here) is replaced, unless watches keep ending right after their start.
void beat()
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    if (g_nWatchPid < 0)
        return;
    const pid_t pid = pid_t(g_nWatchPid);
    const bool bSent = sendByte(g_nPipeFd, 'h');
    int nStatus = 0;
    pid_t nReaped = ::waitpid(pid, &nStatus, WNOHANG);
    if (bSent && nReaped == 0)
        return;
    // Its standard input is closed, so it is ending: wait for it (no zombie is left).
    while (nReaped == 0 || (nReaped < 0 && errno == EINTR))
        nReaped = ::waitpid(pid, &nStatus, 0);
    const QString how = WIFSIGNALED(nStatus)
                            ? QStringLiteral("by signal %1").arg(WTERMSIG(nStatus))
                            : QStringLiteral("with exit code %1").arg(WEXITSTATUS(nStatus));
    QLOG_WARN() << qUtf8Printable(
        QStringLiteral("Give-back: watch %1 ended %2, starting a new one").arg(pid).arg(how));
    g_nQuickEnds = g_Started.elapsed() < kQuickEndMs ? g_nQuickEnds + 1 : 0;
    forgetLocked();
    if (g_nQuickEnds >= kMaxQuickEnds) {
        QLOG_ERROR() << "Give-back: the watch keeps ending - the fans are not given back";
        return;
    }
    startLocked();
    if (g_nWatchPid > 0)
        QLOG_INFO() << "Give-back: watch" << g_nWatchPid << "hands the fans back";
}

// The heartbeat lives in the GUI thread (the callers run there); without an application (tools,
// tests) there is none.
void createHeartbeat()
{
    QCoreApplication* pApp = QCoreApplication::instance();
    if (g_pHeartbeat || !pApp)
        return;
    if (QThread::currentThread() != pApp->thread()) {
        QLOG_ERROR() << "Give-back: the watch is started outside the GUI thread; no heartbeat";
        return;
    }
    const QByteArray limit = qgetenv(SmcKeyToolUtils::kSilenceLimitEnv);
    const int nLimitMs =
        SmcKeyToolUtils::silenceLimitMs(limit.isNull() ? nullptr : limit.constData());
    g_pHeartbeat = new QTimer(pApp);
    g_pHeartbeat->setInterval(SmcKeyToolUtils::heartbeatIntervalMs(nLimitMs));
    QObject::connect(g_pHeartbeat, &QTimer::timeout, pApp, &beat);
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
    createHeartbeat();
    if (g_nWatchPid < 0) {
        g_Tool = QFile::encodeName(toolPath);
        g_nQuickEnds = 0;
        startLocked();
    }
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
    const qint64 nPid = g_nWatchPid;
    const bool bSent = sendByte(g_nPipeFd, 'k');
    forgetLocked();
    if (!bSent)
        QLOG_WARN() << "Give-back: the watch could not be told to keep the fans (it has ended)";
    while (::waitpid(pid_t(nPid), nullptr, 0) < 0 && errno == EINTR) {
    }
    QLOG_INFO() << "Give-back: watch" << nPid << "stopped";
}

void followSetting(QPreferences* pPreferences)
{
    if (isWanted(pPreferences))
        startIfWanted(pPreferences);
    else
        stopWatch();
}

} // namespace SmcGiveBackUtils
