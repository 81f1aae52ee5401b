#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

#include <functional>

// Identifies the machine: its model identifier (iMac11,2, MacPro4,1, ...), the numeric code of
// the few models whose sensor keys differ, and a readable name of the system version.
// One instance lives in the application object; the identifier is cached in the setting
// "Machine"; the platform lookup runs once per start all the same, so that a settings file
// carried to another machine is noticed (the cached identifier is then replaced).
class QMySysInfo
{
public:
    // Asks the platform for the model identifier; empty when it cannot tell.
    using MachineQuery = std::function<QString()>;

    QMySysInfo();
    // A caller-supplied lookup instead of the platform's (tests, tools).
    explicit QMySysInfo(MachineQuery machineQuery);

    // The model identifier: member, else the platform lookup, else setting "Machine" (damaged
    // text there counts as not set). A found identifier that differs from the setting replaces
    // it. Empty when nothing is known yet; a later call tries again.
    QString machineName();
    // The identifier the setting held when this start found another machine; empty otherwise.
    QString replacedMachine() const;

    // Code of the identifier as filled by machineName(); 0 for models without a code.
    int macModel() const;
    // SysInfoHelpers::MacGeneration of the identifier as filled by machineName().
    int macGeneration() const;
    // The identifier begins with "MacPro".
    bool isMacPro() const;

    // One platform lookup, bypassing member and setting.
    QString OS_GetMachineName();
    QString OS_GetOSVersionString();

private:
    QString machine() const;

    mutable std::mutex m_Mutex; // guards m_Machine; never held while the store or a process runs
    QString m_Machine;
    QString m_ReplacedMachine;
    MachineQuery m_MachineQuery;
};

// Runs a command (program and arguments separated by blanks) and returns its standard output
// split at every line feed, empty parts kept. A command that cannot start or prints nothing
// gives one empty line. Waits at most nTimeoutMs; a slower command is stopped and what it had
// written so far is returned.
QStringList readOutput(const QString& command);
QStringList readOutput(const QString& command, int nTimeoutMs);
