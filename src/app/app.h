#pragma once

#include "core/QMySysInfo.h"

#include <QApplication>
#include <QLocalSocket>
#include <QString>

#include <memory>

class QLanguageLoader;
class QLocalServer;
class QMainWindow;
class QPreferences;
class QFanControlMainWindow;

// The program's name and version as shown in titles and the log header.
constexpr char kThermoraProgramName[] = "Thermora";
constexpr char kThermoraVersion[] = THERMORA_VERSION;
// The toolkit version the program is declared against (log header, about dialog).
constexpr char kThermoraQtVersion[] = "5.2.0";
// The built-in English language file among the compiled-in resources.
constexpr char kThermoraDefaultLanguage[] = "/Ready/languages/English.xml";
// The name of the single-instance server (inside a per-user folder where the platform needs one).
constexpr char kThermoraInstanceKey[] = "THERMORA";

// The widget application plus the process-wide services every part of the program reaches
// through m_pInstance: the settings store and the language loader.
class QMyApplication : public QApplication
{
    Q_OBJECT
public:
    QMyApplication(int& argc, char** argv, int nFlags = ApplicationFlags);
    ~QMyApplication() override;

    static QMyApplication* m_pInstance;

    // Settings store for an application and organization name (native format, user scope).
    void enablePreferences(const QString& application, const QString& organization);
    // Settings store on an INI file.
    void enablePreferences(const QString& iniFilePath);
    void enableLocalization(const QString& defaultLanguagePath);

    QPreferences* preferences() const { return m_pPreferences; }
    QLanguageLoader* languageLoader() const { return m_pLanguageLoader; }

    // Makes this program the active one, in front of every other application.
    static void activateAppTopmost(QMainWindow* pWindow);

private:
    void setPreferences(QPreferences* pPreferences);

    QPreferences* m_pPreferences = nullptr;       // child object: dies with the application
    QLanguageLoader* m_pLanguageLoader = nullptr; // owned
};

namespace AppPlatformUtils {
class QInstanceLock;
}

// One running instance per user. The first instance holds the key's lock and listens on a
// local server named by the key; a later one finds the lock taken, knocks (connects) so the
// running one comes forward, and leaves. Only a peer of the same user is believed, either way.
class QSingleApplication : public QMyApplication
{
    Q_OBJECT
public:
    // An empty key: no private place for it (see hasGuard()).
    QSingleApplication(int& argc, char** argv, const QString& key);
    ~QSingleApplication() override;

    // True when another instance already runs for this user: this process must not go on.
    bool isRunning() const { return m_bRunning; }
    // False when no private place for the single-instance check was found: two instances
    // could then drive the fans at once, so the program must not start.
    bool hasGuard() const { return !m_bNoGuard; }

signals:
    void anotherInstanceStarted();

private:
    enum class Knock
    {
        NoAnswer, // nobody listens (yet)
        Heard,    // an instance of this user listens and now comes forward
        Foreign   // the listener runs as another user
    };
    Knock knockAtRunningInstance(const QString& key);
    void listenForLaterInstances(const QString& key);
    void slotKnock();

    bool m_bRunning = false;
    bool m_bNoGuard = false;
    QLocalSocket m_Socket;
    QLocalServer* m_pServer = nullptr; // child object, first instance only
    std::unique_ptr<AppPlatformUtils::QInstanceLock> m_pLock;
};

// This program's own start-up: settings defaults, language, logging, autostart at login and
// the flags that main and the main window read.
class QThermoraApp : public QSingleApplication
{
    Q_OBJECT
public:
    // instanceKey: the single-instance key; empty means this user's own (the program's case).
    QThermoraApp(int& argc, char** argv, const QString& instanceKey = QString());
    ~QThermoraApp() override;

    // The application object, or null when none exists (or it is of another kind).
    static QThermoraApp* instance();

    void enablePreferences();
    void initLogging();
    QString logPath() const;
    // Why the log file cannot be written (empty when it can, or when logging is off).
    QString logProblem() const { return m_LogProblem; }

    // Installed autostart means every launch, also one by hand, starts minimized.
    static bool isAutoStart();
    static void toggleAutoStart(bool bEnable);

    QMySysInfo* sysInfo() { return &m_SysInfo; }

    bool isStartMinimized() const { return m_bStartMinimized; }
    void setStartMinimized(bool bStartMinimized) { m_bStartMinimized = bStartMinimized; }

    // The settings held no fan list when the program started.
    bool isFirstRun() const { return m_bFirstRun; }

    QFanControlMainWindow* mainWindow() const { return m_pMainWindow; }
    void setMainWindow(QFanControlMainWindow* pWindow) { m_pMainWindow = pWindow; }

    // Read-only mode: the program's folder cannot hold a working set-user-ID tool.
    bool isReadOnly() const { return m_bReadOnly; }
    QString readOnlyFileSystem() const { return m_FileSystem; }
    void setReadOnly(bool bReadOnly, const QString& fileSystem);

public slots:
    void slotAnotherInstanceStarted();

private:
    QString m_LogProblem;
    void writeSettingDefaults();

    QMySysInfo m_SysInfo;
    bool m_bStartMinimized = false;
    bool m_bFirstRun = false;
    QFanControlMainWindow* m_pMainWindow = nullptr; // not owned
    bool m_bReadOnly = false;
    QString m_FileSystem;
};

// Fills in the file-system name of the program's folder and tells whether that file system
// can hold the set-user-ID key-writing tool. A folder that cannot be examined counts as
// supported and leaves the name unchanged.
bool checkFileMacFilesystem(QString& fileSystemName);
