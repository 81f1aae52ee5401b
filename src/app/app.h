#pragma once

#include "core/QMySysInfo.h"

#include <QApplication>
#include <QLocalSocket>
#include <QString>

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
// The single-instance key on platforms where local names are private to the user.
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

// One running instance per user. The first instance listens on a local server named by the
// key; a later one knocks (connects) and learns from that that it has to leave.
class QSingleApplication : public QMyApplication
{
    Q_OBJECT
public:
    QSingleApplication(int& argc, char** argv, const QString& key);

    // True when another instance already runs for this user: this process must not go on.
    bool isRunning() const { return m_bRunning; }

signals:
    void anotherInstanceStarted();

private:
    bool knockAtRunningInstance(const QString& key);
    void listenForLaterInstances(const QString& key);

    bool m_bRunning = false;
    QLocalSocket m_Socket;
    QLocalServer* m_pServer = nullptr; // child object, first instance only
};

// This program's own start-up: settings defaults, language, logging, autostart at login and
// the flags that main and the main window read.
class QThermoraApp : public QSingleApplication
{
    Q_OBJECT
public:
    QThermoraApp(int& argc, char** argv);
    ~QThermoraApp() override;

    // The application object, or null when none exists (or it is of another kind).
    static QThermoraApp* instance();

    void enablePreferences();
    void initLogging();
    QString logPath() const;

    // Installed autostart means every launch, also one by hand, starts minimized.
    bool isAutoStart() const;
    void toggleAutoStart(bool bEnable);

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
