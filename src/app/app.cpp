#include "app/app.h"

#include "QsLog/QsLog.h"
#include "QsLog/QsLogDest.h"
#include "QsLog/QsLogPath.h"
#include "app/AppPlatform.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "smc/base/SimSocketUtils.h"
#include "ui/MainWindow.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {

// Whether the process at the other end of a connected local socket runs as this user.
bool isPeerSameUser(const QLocalSocket& socket)
{
    uint32_t nUid = 0;
    const int fd = int(socket.socketDescriptor());
    return fd >= 0 && SimSocketUtils::peerUid(fd, nUid) && nUid == getuid();
}

const int kKnockTimeoutMs = 500;
const qint64 kLogMaxSizeBytes = 10485760;
const int kLogBackups = 2;

// Settings that start-up gives a value the first time it finds them missing.
struct SettingDefault
{
    const char* key;
    int nValue;
};
const SettingDefault kSettingDefaults[] = {
    {"Fahrenheit", 0},
    {"PreciseTemperature", 0},
    {"menubarIcon", 1},
};

} // namespace

// --- QMyApplication ---------------------------------------------------------------------

QMyApplication* QMyApplication::m_pInstance = nullptr;

QMyApplication::QMyApplication(int& argc, char** argv, int nFlags)
    : QApplication(argc, argv, nFlags)
{
    m_pInstance = this;
}

QMyApplication::~QMyApplication()
{
    // Core code must not reach a store that is about to die with our children.
    if (QCoreServices::preferences() == m_pPreferences)
        QCoreServices::setPreferences(nullptr);
    delete m_pLanguageLoader;
    m_pLanguageLoader = nullptr;
    if (m_pInstance == this)
        m_pInstance = nullptr;
}

void QMyApplication::enablePreferences(const QString& application, const QString& organization)
{
    setPreferences(new QPreferences(application, organization, this));
}

void QMyApplication::enablePreferences(const QString& iniFilePath)
{
    setPreferences(new QPreferences(iniFilePath, this));
}

void QMyApplication::setPreferences(QPreferences* pPreferences)
{
    delete m_pPreferences;
    m_pPreferences = pPreferences;
    QCoreServices::setPreferences(pPreferences);
}

void QMyApplication::enableLocalization(const QString& defaultLanguagePath)
{
    delete m_pLanguageLoader;
    m_pLanguageLoader = new QLanguageLoader(defaultLanguagePath);
}

void QMyApplication::activateAppTopmost(QMainWindow* pWindow)
{
    AppPlatformUtils::activateApplication(pWindow);
}

// --- QSingleApplication -----------------------------------------------------------------

QSingleApplication::QSingleApplication(int& argc, char** argv, const QString& key)
    : QMyApplication(argc, argv)
{
    if (key.isEmpty()) {
        m_bNoGuard = true; // reported once the log is attached
        return;
    }
    m_pLock.reset(new AppPlatformUtils::QInstanceLock(key));
    const AppPlatformUtils::QInstanceLock::Result lock = m_pLock->tryLock();
    if (lock == AppPlatformUtils::QInstanceLock::Busy) {
        // The holder may still be starting and not listen yet: it runs all the same. Only a
        // server of another user at our name is not believed.
        m_bRunning = knockAtRunningInstance(key) != Knock::Foreign;
        if (m_bRunning)
            return;
        QLOG_WARN() << "The single-instance server belongs to another user; not believed";
    } else if (lock == AppPlatformUtils::QInstanceLock::Unavailable) {
        QLOG_WARN() << "Single-instance lock unavailable for" << key;
    }
    listenForLaterInstances(key);
}

QSingleApplication::~QSingleApplication() = default;

// Connecting is the whole message: the running instance reacts to the connection itself.
QSingleApplication::Knock QSingleApplication::knockAtRunningInstance(const QString& key)
{
    m_Socket.connectToServer(key, QIODevice::ReadWrite);
    if (!m_Socket.waitForConnected(kKnockTimeoutMs)) {
        QLOG_WARN() << m_Socket.errorString();
        return Knock::NoAnswer;
    }
    const bool bSameUser = isPeerSameUser(m_Socket);
    m_Socket.disconnectFromServer();
    return bSameUser ? Knock::Heard : Knock::Foreign;
}

void QSingleApplication::listenForLaterInstances(const QString& key)
{
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &QSingleApplication::slotKnock);
    // We hold the lock, so a socket file still there is a crashed instance's.
    QLocalServer::removeServer(key);
    if (!m_pServer->listen(key)) {
        QLOG_WARN() << "Single-instance server not listening:" << m_pServer->errorString();
    }
}

void QSingleApplication::slotKnock()
{
    while (QLocalSocket* pPeer = m_pServer->nextPendingConnection()) {
        // Anyone who can reach the socket (another user's root, say) must not pull us forward.
        const bool bSameUser = isPeerSameUser(*pPeer);
        pPeer->disconnectFromServer();
        pPeer->deleteLater();
        if (bSameUser)
            emit anotherInstanceStarted();
        else
            QLOG_WARN() << "Knock from another user ignored";
    }
}

// --- QThermoraApp -----------------------------------------------------------------------

QThermoraApp::QThermoraApp(int& argc, char** argv, const QString& instanceKey)
    : QSingleApplication(
          argc, argv, instanceKey.isEmpty() ? AppPlatformUtils::singleInstanceKey() : instanceKey)
{
    QCoreServices::setSysInfo(&m_SysInfo);
    setAttribute(Qt::AA_UseHighDpiPixmaps);
    connect(this, &QSingleApplication::anotherInstanceStarted, this,
            &QThermoraApp::slotAnotherInstanceStarted);

    enablePreferences();
    enableLocalization(QLatin1String(kThermoraDefaultLanguage));

    QPreferences* pPreferences = preferences();
    m_bFirstRun = pPreferences->getString(QStringLiteral("Fans")).isEmpty();
    languageLoader()->load(pPreferences->getString(QStringLiteral("InterfaceLanguage")));
    writeSettingDefaults();

    setReadOnly(false, QString());
    initLogging();
}

QThermoraApp::~QThermoraApp()
{
    QsLogging::Logger::destroyInstance();
    if (QCoreServices::sysInfo() == &m_SysInfo)
        QCoreServices::setSysInfo(nullptr);
}

QThermoraApp* QThermoraApp::instance()
{
    return qobject_cast<QThermoraApp*>(m_pInstance);
}

void QThermoraApp::enablePreferences()
{
    QMyApplication::enablePreferences(QStringLiteral("thermora"), QStringLiteral("brightfold"));
}

void QThermoraApp::writeSettingDefaults()
{
    QPreferences* pPreferences = preferences();
    for (const SettingDefault& entry : kSettingDefaults) {
        const QString key = QLatin1String(entry.key);
        if (pPreferences->getInt(key, -1) == -1)
            pPreferences->setInt(key, entry.nValue);
    }
}

void QThermoraApp::initLogging()
{
    using namespace QsLogging;
    Logger& logger = Logger::instance();
    QPreferences* pPreferences = preferences();
    if (pPreferences && pPreferences->getInt(QStringLiteral("EnableLog"), -1) == 1) {
        // Lines from before this point (the single-instance check) belong to no file: let
        // the writer drop them before the file is attached.
        logger.waitForWrites();
        logger.setLoggingLevel(TraceLevel);
        logger.addDestination(DestinationFactory::MakeFileDestination(
            logPath(), EnableLogRotation, MaxSizeBytes(kLogMaxSizeBytes),
            MaxOldLogCount(kLogBackups)));
        // A read-only or missing folder, a full disk: said once, here and in the window.
        QFile probe(logPath());
        if (!probe.open(QIODevice::Append | QIODevice::Text)) {
            m_LogProblem = QStringLiteral("The log file %1 cannot be written: %2")
                               .arg(logPath(), probe.errorString());
            qWarning("%s", qPrintable(m_LogProblem));
        }
    } else {
        logger.setLoggingLevel(OffLevel);
    }

    if (logger.loggingLevel() <= InfoLevel) {
        const QString program = QLatin1String(kThermoraProgramName) + QLatin1Char(' ') +
                                QLatin1String(kThermoraVersion);
        QLOG_INFO() << QStringLiteral("%1, %2, %3, Qt %4")
                           .arg(program, m_SysInfo.OS_GetOSVersionString(), m_SysInfo.machineName(),
                                QLatin1String(kThermoraQtVersion));
    }
}

QString QThermoraApp::logPath() const
{
    return QsLogging::defaultLogPath();
}

bool QThermoraApp::isAutoStart()
{
    return AppPlatformUtils::isAutoStartInstalled();
}

void QThermoraApp::toggleAutoStart(bool bEnable)
{
    const bool bInstalled = AppPlatformUtils::isAutoStartInstalled();
    if (bEnable && !bInstalled)
        AppPlatformUtils::installAutoStart();
    else if (!bEnable && bInstalled)
        AppPlatformUtils::removeAutoStart();
}

void QThermoraApp::setReadOnly(bool bReadOnly, const QString& fileSystem)
{
    m_bReadOnly = bReadOnly;
    m_FileSystem = fileSystem;
    QCoreServices::setReadOnly(bReadOnly, fileSystem);
}

void QThermoraApp::slotAnotherInstanceStarted()
{
    QLOG_DEBUG() << "Another instance knocked";
    // Before the window exists there is nothing to bring forward.
    if (m_pMainWindow)
        m_pMainWindow->slotRestore();
}

// --- File system -------------------------------------------------------------------------

bool checkFileMacFilesystem(QString& fileSystemName)
{
    QString typeName;
    bool bNoSuid = false;
    if (!AppPlatformUtils::queryFileSystem(QCoreApplication::applicationDirPath(), typeName,
                                           bNoSuid))
        return true;
    fileSystemName = typeName;
    return AppPlatformUtils::isSupportedFileSystem(typeName, bNoSuid);
}
