// The key-writing tool. Installed set-user-ID, it writes one SMC key for the program:
//     smc -k KEY -w HEX
// and, as read-only extras that never keep any privilege,
//     smc -l          every key in key-index order, one dump line each
//     smc -r -k KEY   one key
// and, for the program's opt-in give-back of the fans,
//     smc --give-back  holds standard input (a pipe from the program) and, when it ends,
//                      clears every fan's manual flag: "FS! " to 0
// On a Mac running Linux the tool writes through the applesmc driver's files: "F%uTg" into
// fanN_output, "FS! " into the fanN_manual flags, nothing else. As root, -l dumps the
// controller's whole table through key_at_index, in the format the simulator loads.
// Failures print one line on standard error and exit non-zero (the program ignores both).
// It links the C and C++ runtime alone: a set-user-ID program carries no more code than it uses.
#include "smc/base/QSmcCallTransport.h"
#include "smc/base/SmcCodecUtils.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "smc/base/SmcProtocolUtils.h"

#include "smc/applesmc/QAppleSmcTransport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace SmcKeyToolUtils;

extern char** environ;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

int complain(int nExitCode, const std::string& message)
{
    fprintf(stderr, "smc: %s\n", message.c_str());
    return nExitCode;
}

// Keys are shown quoted, each byte as its Latin-1 character in UTF-8.
std::string keyForMessage(const char* key)
{
    std::string text = "\"";
    for (size_t i = 0; i < 4 && key[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text + "\"";
}

std::string resultCode(int nResult)
{
    char text[16];
    snprintf(text, sizeof text, "%08x", static_cast<unsigned>(nResult));
    return text;
}

int writeKey(QSmcCallTransport* pTransport, const Request& request)
{
    SMCVal_t val;
    memset(&val, 0, sizeof(val));
    memcpy(val.key, request.key.data(), 4);
    val.dataSize = static_cast<uint32_t>(request.value.size());
    memcpy(val.bytes, request.value.data(), request.value.size());
    const int nResult = SmcProtocolUtils::writeKey(pTransport, val);
    if (nResult != kSmcReturnSuccess)
        return complain(kExitFailed, "writing " + keyForMessage(val.key) + " failed (" +
                                         resultCode(nResult) + ")");
    return 0;
}

// Prints one key as a dump line; false (with a message) when it cannot be read.
bool printKey(QSmcCallTransport* pTransport, const char* key)
{
    SMCVal_t val;
    const int nResult = SmcProtocolUtils::readKey(pTransport, key, &val);
    if (nResult != kSmcReturnSuccess) {
        complain(kExitFailed,
                 "reading " + keyForMessage(key) + " failed (" + resultCode(nResult) + ")");
        return false;
    }
    const size_t nSize = std::min<size_t>(val.dataSize, sizeof(val.bytes));
    const std::string line =
        SmcCodecUtils::formatDumpLine(std::string(val.key, 4), std::string(val.dataType, 4),
                                      std::string(reinterpret_cast<const char*>(val.bytes), nSize));
    printf("%s\n", line.c_str());
    return true;
}

int listKeys(QSmcCallTransport* pTransport)
{
    SMCVal_t count;
    if (SmcProtocolUtils::readKey(pTransport, "#KEY", &count) != kSmcReturnSuccess)
        return complain(kExitFailed, "the key count \"#KEY\" cannot be read");
    // A shorter value leaves the rest of the count zero.
    unsigned char bytes[4] = {0, 0, 0, 0};
    memcpy(bytes, count.bytes, std::min<size_t>(count.dataSize, sizeof(bytes)));
    const uint32_t nCount = SmcCodecUtils::decodeKeyCount(bytes);

    int nExitCode = 0;
    for (uint32_t index = 0; index < nCount; ++index) {
        applesmc_entry entry;
        memset(&entry, 0, sizeof(entry));
        if (SmcProtocolUtils::keyInfoByIndex(pTransport, static_cast<int>(index), &entry) != 0) {
            complain(kExitFailed, "key index " + std::to_string(index) + " cannot be read");
            nExitCode = kExitFailed;
            continue;
        }
        if (!printKey(pTransport, entry.key))
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

// Returns when standard input ends: the program closed its end of the pipe, or the kernel did
// because the program is gone, however it ended. False when the program first sent the byte
// 'k' (keep): the user switched the give-back off, so the fans stay as they are.
bool waitForEndOfInput()
{
    char buffer[256];
    bool bKeep = false;
    for (;;) {
        const ssize_t nRead = read(STDIN_FILENO, buffer, sizeof buffer);
        if (nRead == 0 || (nRead < 0 && errno != EINTR))
            return !bKeep;
        if (nRead > 0 && std::memchr(buffer, 'k', size_t(nRead)) != nullptr)
            bKeep = true;
    }
}

// A write the program started just before it ended may still land after ours (its tool
// outlives it for a moment): the flags are watched a little longer and cleared again.
int giveBack(QSmcCallTransport* pTransport, const Request& request)
{
    constexpr int kSettleSteps = 30;
    constexpr useconds_t kSettleStepUs = 100000;
    if (!waitForEndOfInput())
        return 0;
    int nExitCode = writeKey(pTransport, request);
    for (int step = 0; step < kSettleSteps; ++step) {
        usleep(kSettleStepUs);
        SMCVal_t val;
        if (SmcProtocolUtils::readKey(pTransport, request.key.c_str(), &val) == kSmcReturnSuccess &&
            std::memcmp(val.bytes, request.value.data(), request.value.size()) != 0)
            nExitCode = writeKey(pTransport, request);
    }
    return nExitCode;
}

bool writesKeys(Mode mode)
{
    return mode == Mode::Write || mode == Mode::GiveBack;
}

int run(const Request& request, QSmcCallTransport* pTransport)
{
    switch (request.mode) {
    case Mode::Write:
        return writeKey(pTransport, request);
    case Mode::GiveBack:
        return giveBack(pTransport, request);
    case Mode::List:
        return listKeys(pTransport);
    case Mode::ReadOne:
        return printKey(pTransport, request.key.c_str()) ? 0 : kExitFailed;
    }
    return kExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    if (!standardDescriptorsOpen())
        return kExitFailed;

    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    Request request;
    std::string error;
    if (!parseArguments(args, &request, &error))
        return complain(kExitRefused, error);
    if (writesKeys(request.mode) && !isWritableKey(request.key))
        return complain(kExitRefused,
                        "key " + keyForMessage(request.key.c_str()) + " may not be written");

    // Only the simulator's socket and an applesmc folder are taken from the caller's
    // environment, and only as places to open without privileges. Nothing else of it survives.
    const char* socketEnv = getenv("THERMORA_SMC_SOCKET");
    const std::string socketFromEnv = socketEnv ? socketEnv : "";
    const char* applesmcEnv = getenv("THERMORA_APPLESMC_DIR");
    const std::string applesmcFromEnv = applesmcEnv ? applesmcEnv : "";
    clearEnvironment();

    const Target target = SmcKeyToolUtils::target(socketFromEnv, applesmcFromEnv);
    std::unique_ptr<QSmcCallTransport> pTransport(target.pTransport);
    if (target.pAppleSmc && writesKeys(request.mode))
        target.pAppleSmc->setProbeControllerIndex(false); // a write touches its fan file alone
    bool bPrivileged = true;
    if (!writesKeys(request.mode) || !target.bConnectPrivileged) {
        if (!dropPrivileges(&error))
            return complain(kExitFailed, error);
        bPrivileged = false;
    }

    if (!pTransport || !pTransport->open())
        return complain(kExitFailed, "cannot open " + target.description);

    if (bPrivileged && !target.bWritePrivileged && !dropPrivileges(&error))
        return complain(kExitFailed, error);
    if (request.mode == Mode::GiveBack) {
        // Interrupts meant for the program's terminal must not end the watch.
        signal(SIGINT, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        signal(SIGPIPE, SIG_IGN);
    }
    if (request.mode == Mode::List && target.pAppleSmc && target.pAppleSmc->usesControllerIndex())
        target.pAppleSmc->setControllerValues(true);
    return run(request, pTransport.get());
}
