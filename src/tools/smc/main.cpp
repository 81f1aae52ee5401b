// The key-writing tool. Installed set-user-ID, it writes one SMC key for the program:
//     smc -k KEY -w HEX
// and, as read-only extras that never keep any privilege,
//     smc -l          every key in key-index order, one dump line each
//     smc -r -k KEY   one key
// Failures print one line on standard error and exit non-zero (the program ignores both).
#include "smc/QSmcControlMac.h"
#include "smc/SmcKeyToolUtils.h"
#include "smc/SmcValueUtils.h"
#include "smc/sim/SimDumpUtils.h"

#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace SmcKeyToolUtils;

extern char** environ;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

int complain(int nExitCode, const QString& message)
{
    fprintf(stderr, "smc: %s\n", qUtf8Printable(message));
    return nExitCode;
}

QString keyForMessage(const QByteArray& key)
{
    return QStringLiteral("\"%1\"").arg(QString::fromLatin1(key));
}

int writeKey(QSmcControlMac& backend, const Request& request)
{
    SMCVal_t val;
    memset(&val, 0, sizeof(val));
    memcpy(val.key, request.key.constData(), 4);
    val.dataSize = static_cast<uint32_t>(request.value.size());
    memcpy(val.bytes, request.value.constData(), static_cast<size_t>(request.value.size()));
    const int nResult = backend.SMCWriteKey(val);
    if (nResult != kIOReturnSuccess)
        return complain(kExitFailed,
                        QStringLiteral("writing %1 failed (%2)")
                            .arg(keyForMessage(request.key))
                            .arg(static_cast<uint32_t>(nResult), 8, 16, QLatin1Char('0')));
    return 0;
}

// Prints one key as a dump line; false (with a message) when it cannot be read.
bool printKey(QSmcControlMac& backend, const char* key)
{
    SMCVal_t val;
    const int nResult = backend.SMCReadKey(key, &val);
    if (nResult != kIOReturnSuccess) {
        complain(kExitFailed, QStringLiteral("reading %1 failed (%2)")
                                  .arg(keyForMessage(QByteArray(key, 4)))
                                  .arg(static_cast<uint32_t>(nResult), 8, 16, QLatin1Char('0')));
        return false;
    }
    const int nSize = static_cast<int>(qMin<uint32_t>(val.dataSize, sizeof(val.bytes)));
    const QByteArray line =
        SimDumpUtils::formatDumpLine(QByteArray(val.key, 4), QByteArray(val.dataType, 4),
                                     QByteArray(reinterpret_cast<const char*>(val.bytes), nSize));
    printf("%s\n", line.constData());
    return true;
}

int listKeys(QSmcControlMac& backend)
{
    unsigned char count[4] = {0, 0, 0, 0};
    if (backend.OS_ReadKey("#KEY", count, sizeof(count)) != 0)
        return complain(kExitFailed, QStringLiteral("the key count \"#KEY\" cannot be read"));
    const uint32_t nCount = SmcValueUtils::decodeKeyCount(count);

    int nExitCode = 0;
    for (uint32_t index = 0; index < nCount; ++index) {
        applesmc_entry entry;
        memset(&entry, 0, sizeof(entry));
        if (backend.OS_GetKeyInfoByIndex(static_cast<int>(index), &entry) != 0) {
            complain(kExitFailed, QStringLiteral("key index %1 cannot be read").arg(index));
            nExitCode = kExitFailed;
            continue;
        }
        if (!printKey(backend, entry.key))
            nExitCode = kExitFailed;
    }
    fflush(stdout);
    return nExitCode;
}

// Forgets the caller's environment (clearenv() is not available everywhere).
void clearEnvironment()
{
    static char* empty[] = {nullptr};
    environ = empty;
}

// A caller may start the tool with standard descriptors closed, so that the next file or
// socket it opens would be taken for one of them. Fill such gaps with /dev/null.
bool standardDescriptorsOpen()
{
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (!standardDescriptorsOpen())
        return kExitFailed;

    // Latin-1 keeps every byte as one character, so anything beyond ASCII is refused below.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLatin1(argv[i]);

    Request request;
    QString error;
    if (!parseArguments(args, &request, &error))
        return complain(kExitRefused, error);
    if (request.mode == Mode::Write && !isWritableKey(request.key))
        return complain(
            kExitRefused,
            QStringLiteral("key %1 may not be written").arg(keyForMessage(request.key)));

    // Only the simulator's socket is taken from the caller's environment, and only as a place
    // to connect to without privileges. Nothing else of it survives.
    const char* socketEnv = getenv("THERMORA_SMC_SOCKET");
    const QByteArray socketFromEnv = socketEnv ? QByteArray(socketEnv) : QByteArray();
    clearEnvironment();

    Target target = SmcKeyToolUtils::target(socketFromEnv);
    bool bPrivileged = true;
    if (request.mode != Mode::Write || !target.bConnectPrivileged) {
        if (!dropPrivileges(&error)) {
            delete target.pTransport;
            return complain(kExitFailed, error);
        }
        bPrivileged = false;
    }

    QSmcControlMac backend(target.pTransport);
    if (!backend.Open())
        return complain(kExitFailed, QStringLiteral("cannot open %1").arg(target.description));

    if (bPrivileged && !target.bWritePrivileged && !dropPrivileges(&error))
        return complain(kExitFailed, error);

    switch (request.mode) {
    case Mode::Write:
        return writeKey(backend, request);
    case Mode::List:
        return listKeys(backend);
    case Mode::ReadOne:
        return printKey(backend, request.key.constData()) ? 0 : kExitFailed;
    }
    return kExitFailed;
}
