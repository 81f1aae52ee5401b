#include "core/QMySysInfo.h"

#include "core/CacheCheckHelpers.h"
#include "core/SysInfoHelpers.h"
#include "core/SysInfoPlatform.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"

#include <QProcess>
#include <mutex>

namespace {
const char* const kMachineSetting = "Machine";
const int kCommandTimeoutMs = 30000;
} // namespace

QMySysInfo::QMySysInfo() : m_MachineQuery(&SysInfoPlatform::queryMachineModel)
{}

QMySysInfo::QMySysInfo(MachineQuery machineQuery) : m_MachineQuery(std::move(machineQuery))
{}

QString QMySysInfo::machine() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Machine;
}

QString QMySysInfo::machineName()
{
    QString name = machine();
    if (!name.isEmpty())
        return name;

    QPreferences* pPreferences = QCoreServices::preferences();
    QString cached = pPreferences ? pPreferences->getString(kMachineSetting) : QString();
    if (CacheCheckHelpers::isDamagedText(cached))
        cached.clear(); // never used, and only a found identifier replaces it
    name = OS_GetMachineName();
    QString replaced;
    if (name.isEmpty()) {
        name = cached; // the platform cannot tell: trust the cache
    } else if (name != cached && pPreferences) {
        // Only a found identifier is cached: an empty one means "ask again next time".
        pPreferences->setString(kMachineSetting, name);
        if (!cached.isEmpty())
            replaced = cached;
    }

    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Machine.isEmpty()) {
        m_Machine = name;
        m_ReplacedMachine = replaced;
    }
    return m_Machine;
}

QString QMySysInfo::replacedMachine() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_ReplacedMachine;
}

int QMySysInfo::macModel() const
{
    return SysInfoHelpers::modelCode(machine());
}

int QMySysInfo::macGeneration() const
{
    return SysInfoHelpers::macGeneration(machine());
}

bool QMySysInfo::isMacPro() const
{
    return SysInfoHelpers::isMacProIdentifier(machine());
}

QString QMySysInfo::OS_GetMachineName()
{
    return m_MachineQuery ? m_MachineQuery() : QString();
}

QString QMySysInfo::OS_GetOSVersionString()
{
    const QString other = SysInfoPlatform::otherSystemName();
    return other.isEmpty() ? SysInfoHelpers::osVersionName(SysInfoPlatform::macintoshVersion())
                           : other;
}

QStringList readOutput(const QString& command)
{
    return readOutput(command, kCommandTimeoutMs);
}

QStringList readOutput(const QString& command, int nTimeoutMs)
{
    QByteArray output;
    QStringList parts = QProcess::splitCommand(command);
    if (!parts.isEmpty()) {
        const QString program = parts.takeFirst();
        QProcess process;
        process.start(program, parts, QIODevice::ReadWrite);
        if (process.waitForStarted(nTimeoutMs)) {
            process.closeWriteChannel(); // nothing is ever sent; a reader of stdin sees its end
            if (!process.waitForFinished(nTimeoutMs)) {
                // Too slow: keep what it wrote, but do not leave it running behind us.
                process.kill();
                process.waitForFinished(1000);
            }
            output = process.readAllStandardOutput();
        }
    }

    const int nNul = output.indexOf('\0');
    if (nNul >= 0)
        output.truncate(nNul);
    return QString::fromLocal8Bit(output).split(QLatin1Char('\n'), Qt::KeepEmptyParts);
}
