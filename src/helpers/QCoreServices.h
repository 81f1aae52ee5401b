#pragma once

#include <QString>

class QPreferences;
class QMySysInfo;
class QClock;

// The process-wide services that the core reaches without knowing the widget application.
// The application object registers its settings store and machine information at start-up;
// tests and tools register their own. Unset services read as null (the clock as the wall
// clock), and every caller copes with a null store by using its documented default.
class QCoreServices
{
public:
    static QPreferences* preferences();
    static void setPreferences(QPreferences* pPreferences);

    static QMySysInfo* sysInfo();
    static void setSysInfo(QMySysInfo* pSysInfo);

    static QClock* clock();
    static void setClock(QClock* pClock); // null restores the wall clock

    // Read-only mode: the program's folder cannot hold a working set-user-ID tool, so no fan
    // may be commanded. Set once by start-up before any worker runs.
    static bool isReadOnly();
    static QString readOnlyFileSystem();
    static void setReadOnly(bool bReadOnly, const QString& fileSystem = QString());
};
