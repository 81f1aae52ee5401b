#include "helpers/QCoreServices.h"

#include "helpers/QClock.h"

#include <atomic>

namespace {
std::atomic<QPreferences*> g_pPreferences{nullptr};
std::atomic<QMySysInfo*> g_pSysInfo{nullptr};
std::atomic<QClock*> g_pClock{nullptr};
std::atomic<bool> g_bReadOnly{false};
QString g_ReadOnlyFileSystem; // written once at start-up, before any worker thread exists
} // namespace

QPreferences* QCoreServices::preferences()
{
    return g_pPreferences.load();
}
void QCoreServices::setPreferences(QPreferences* pPreferences)
{
    g_pPreferences = pPreferences;
}

QMySysInfo* QCoreServices::sysInfo()
{
    return g_pSysInfo.load();
}
void QCoreServices::setSysInfo(QMySysInfo* pSysInfo)
{
    g_pSysInfo = pSysInfo;
}

QClock* QCoreServices::clock()
{
    QClock* pClock = g_pClock.load();
    return pClock ? pClock : QClock::system();
}
void QCoreServices::setClock(QClock* pClock)
{
    g_pClock = pClock;
}

bool QCoreServices::isReadOnly()
{
    return g_bReadOnly.load();
}
QString QCoreServices::readOnlyFileSystem()
{
    return g_ReadOnlyFileSystem;
}
void QCoreServices::setReadOnly(bool bReadOnly, const QString& fileSystem)
{
    g_ReadOnlyFileSystem = fileSystem;
    g_bReadOnly = bReadOnly;
}
