#include "smc/SmcKeyToolUtils.h"

#include "smc/mac/QSmcTransportIOKit.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

// The AppleSMC service checks the caller's rights when it writes, so the tool keeps root
// until the write is done; the caller's environment names nothing here.
SmcKeyToolUtils::Target SmcKeyToolUtils::target(const QByteArray&)
{
    Target result;
    result.pTransport = new QSmcTransportIOKit();
    result.bConnectPrivileged = true;
    result.bWritePrivileged = true;
    result.description = QStringLiteral("AppleSMC");
    return result;
}

// On this platform setgid/setuid by a process with rights set the real, effective and saved
// ids together.
bool SmcKeyToolUtils::dropPrivileges(QString* pError)
{
    const gid_t realGid = getgid();
    const uid_t realUid = getuid();
    auto fail = [pError](const QString& reason) {
        if (pError)
            *pError = reason;
        return false;
    };
    if (setgid(realGid) != 0)
        return fail(QStringLiteral("cannot drop group privileges: %1")
                        .arg(QString::fromLocal8Bit(strerror(errno))));
    if (setuid(realUid) != 0)
        return fail(QStringLiteral("cannot drop user privileges: %1")
                        .arg(QString::fromLocal8Bit(strerror(errno))));
    if (getuid() != realUid || geteuid() != realUid || getgid() != realGid || getegid() != realGid)
        return fail(QStringLiteral("privileges were not dropped"));
    if (realUid != 0 && (setuid(0) == 0 || seteuid(0) == 0))
        return fail(QStringLiteral("root privileges could be regained"));
    return true;
}
