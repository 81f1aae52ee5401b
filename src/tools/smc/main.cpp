// The key-writing tool. Installed set-user-ID, it writes one SMC key for the program:
//     smc -k KEY -w HEX
// A target "F%uTg" outside that fan's "F%uMn".."F%uMx", and an "FS! " mask with a bit for a
// fan beyond "FNum", are refused: any local user may run the tool.
// and, as read-only extras that never keep any privilege,
//     smc -l          every key in key-index order, one dump line each
//     smc -r -k KEY   one key
// and, for the program's opt-in give-back of the fans,
//     smc --give-back  holds standard input (a pipe from the program) and clears every fan's
//                      manual flag ("FS! " to 0) when it ends or a SIGTERM comes, then exits;
//                      also when the program's heartbeat bytes stop for 10 s (a hung program),
//                      then it watches on
// On a Mac running Linux the tool writes through the applesmc driver's files: "F%uTg" into
// fanN_output, "FS! " into the fanN_manual flags, nothing else, and opens only the files of the
// key it writes. As root, -l dumps the
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
#include <poll.h>
#include <string>
#include <time.h>
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

bool fail(std::string* pError, const std::string& reason)
{
    *pError = reason;
    return false;
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

bool readValue(QSmcCallTransport* pTransport, const char* key, SMCVal_t* pVal)
{
    return SmcProtocolUtils::readKey(pTransport, key, pVal) == kSmcReturnSuccess &&
           pVal->dataSize <= sizeof(pVal->bytes);
}

std::string bytesOf(const SMCVal_t& val)
{
    return std::string(reinterpret_cast<const char*>(val.bytes), val.dataSize);
}

// A number in the key's own type, or false.
bool readNumber(QSmcCallTransport* pTransport, const char* key, double& dValue)
{
    SMCVal_t val;
    return readValue(pTransport, key, &val) &&
           SmcCodecUtils::decodeNumber(std::string(val.dataType, 4), bytesOf(val), dValue);
}

std::string numberText(double dValue)
{
    char text[32];
    snprintf(text, sizeof text, "%.10g", dValue);
    return text;
}

// A target outside the fan's own range would let any local user stop a fan or run it flat out;
// it is refused, and so is one that cannot be checked. A size that does not fit the key is left
// to the write, which refuses it.
bool targetInRange(QSmcCallTransport* pTransport, const Request& request, std::string* pError)
{
    SMCVal_t target;
    const int nResult = SmcProtocolUtils::readKey(pTransport, request.key.c_str(), &target);
    if (nResult != kSmcReturnSuccess)
        return fail(pError, "reading " + keyForMessage(request.key.c_str()) + " failed (" +
                                resultCode(nResult) + ")");
    if (target.dataSize != request.value.size())
        return true;
    const std::string fan(1, request.key[1]);
    const std::string minKey = "F" + fan + "Mn", maxKey = "F" + fan + "Mx";
    double dValue = 0, dMin = 0, dMax = 0;
    if (!SmcCodecUtils::decodeNumber(std::string(target.dataType, 4), request.value, dValue))
        return fail(pError, "the value of " + keyForMessage(target.key) + " cannot be checked");
    if (!readNumber(pTransport, minKey.c_str(), dMin) ||
        !readNumber(pTransport, maxKey.c_str(), dMax))
        return fail(pError, "the range of fan " + fan + " cannot be read");
    if (dValue < dMin || dValue > dMax)
        return fail(pError, keyForMessage(target.key) + " " + numberText(dValue) +
                                " is outside fan " + fan + "'s range " + numberText(dMin) + ".." +
                                numberText(dMax));
    return true;
}

// Bit i of the mask puts fan i under manual control; a bit for a fan that does not exist is
// refused rather than dropped, so a caller learns its mask is wrong.
bool maskNamesOnlyFans(QSmcCallTransport* pTransport, const Request& request, std::string* pError)
{
    SMCVal_t count;
    if (request.value.size() != 2)
        return true; // the write refuses the size
    const uint16_t nMask = static_cast<uint16_t>((static_cast<uint8_t>(request.value[0]) << 8) |
                                                 static_cast<uint8_t>(request.value[1]));
    if (nMask == 0)
        return true; // handing every fan back needs no count
    if (!readValue(pTransport, "FNum", &count) || count.dataSize != 1)
        return fail(pError, "the number of fans \"FNum\" cannot be read");
    if (count.bytes[0] < 16 && nMask >> count.bytes[0] != 0)
        return fail(pError,
                    keyForMessage(request.key.c_str()) + " " +
                        SmcCodecUtils::toHex(
                            reinterpret_cast<const unsigned char*>(request.value.data()), 2) +
                        " names a fan beyond the " + std::to_string(count.bytes[0]) + " there are");
    return true;
}

// A mode key or the unlock takes 0 (automatic) or 1 (manual), in the key's own type: any other
// value (3 is the system's own) is not the program's to write.
bool isSwitchValue(QSmcCallTransport* pTransport, const Request& request, std::string* pError)
{
    SMCVal_t current;
    double dValue = -1;
    if (!readValue(pTransport, request.key.c_str(), &current))
        return fail(pError, "reading " + keyForMessage(request.key.c_str()) + " failed");
    if (current.dataSize != request.value.size())
        return true; // the write refuses the size
    if (!SmcCodecUtils::decodeNumber(std::string(current.dataType, 4), request.value, dValue) ||
        (dValue != 0 && dValue != 1))
        return fail(pError, keyForMessage(request.key.c_str()) + " takes 0 or 1 only");
    return true;
}

// The checks a set-user-ID write must pass beyond its key and size.
bool valueAllowed(QSmcCallTransport* pTransport, const Request& request, std::string* pError)
{
    if (request.key == kGiveBackKey)
        return maskNamesOnlyFans(pTransport, request, pError);
    if (request.key == "Ftst" || SmcKeyToolUtils::isFanKey(request.key, "Md"))
        return isSwitchValue(pTransport, request, pError);
    return targetInRange(pTransport, request, pError);
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

// A SIGTERM (logout, shutdown: the program and the watch are ended together) is noted through a
// pipe the watch's poll() also waits on, so that it cannot slip in between a check and the wait.
int g_nTerminatePipe[2] = {-1, -1};

void onTerminate(int)
{
    const char c = 't';
    if (write(g_nTerminatePipe[1], &c, 1) < 0) {
        // Full: a SIGTERM is noted already.
    }
}

bool catchTerminate()
{
    if (pipe(g_nTerminatePipe) != 0 || fcntl(g_nTerminatePipe[0], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(g_nTerminatePipe[1], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(g_nTerminatePipe[1], F_SETFL, O_NONBLOCK) != 0)
        return false;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGTERM, &action, nullptr) == 0;
}

int64_t monotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum class WatchEvent
{
    End,     // standard input ended, or a SIGTERM came: give back, then exit
    Keep,    // ended after the program sent 'k' (the give-back was switched off): just exit
    Silence, // no heartbeat byte for the limit: give back, watch on
};

// Waits for the next event. Any byte is a heartbeat; the program's 'k' asks to keep the fans.
// bSilent: a silence was answered already, the next one counts from the next byte.
WatchEvent nextEvent(int nSilenceLimitMs, bool& bSilent, bool& bKeep)
{
    int64_t nLastByteMs = monotonicMs();
    for (;;) {
        const int64_t nLeft = nLastByteMs + nSilenceLimitMs - monotonicMs();
        struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_nTerminatePipe[0], POLLIN, 0}};
        const int nReady = poll(fds, 2, bSilent || bKeep ? -1 : int(std::max<int64_t>(nLeft, 0)));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0 || fds[1].revents != 0)
            return bKeep ? WatchEvent::Keep : WatchEvent::End;
        if (nReady == 0)
            return WatchEvent::Silence;
        char buffer[256];
        const ssize_t nRead = read(STDIN_FILENO, buffer, sizeof buffer);
        if (nRead < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (nRead <= 0)
            return bKeep ? WatchEvent::Keep : WatchEvent::End;
        bKeep = bKeep || std::memchr(buffer, 'k', size_t(nRead)) != nullptr;
        nLastByteMs = monotonicMs();
        bSilent = false;
    }
}

// The keys that hold the fans' manual state on this machine, each with its "automatic" value: the
// mask, every fan's mode key and the unlock, whichever the controller has.
std::vector<Request> handBackWrites(QSmcCallTransport* pTransport, const Request& maskRequest)
{
    std::vector<Request> writes;
    SMCVal_t val;
    if (readValue(pTransport, maskRequest.key.c_str(), &val))
        writes.push_back(maskRequest);
    for (int nFan = 0; nFan < 10; ++nFan) {
        const std::string key = "F" + std::to_string(nFan) + "Md";
        if (readValue(pTransport, key.c_str(), &val)) {
            Request mode = maskRequest;
            mode.key = key;
            mode.value.assign(val.dataSize, '\0');
            writes.push_back(mode);
        }
    }
    if (readValue(pTransport, "Ftst", &val)) { // last: the fans are handed back before the lock
        Request unlock = maskRequest;
        unlock.key = "Ftst";
        unlock.value.assign(val.dataSize, '\0');
        writes.push_back(unlock);
    }
    if (writes.empty())
        writes.push_back(maskRequest); // nothing answers: try the mask, and say why it fails
    return writes;
}

int writeAll(QSmcCallTransport* pTransport, const std::vector<Request>& writes)
{
    int nExitCode = 0;
    for (const Request& write : writes) {
        const int nResult = writeKey(pTransport, write);
        nExitCode = nExitCode != 0 ? nExitCode : nResult;
    }
    return nExitCode;
}

// A write the program started just before it ended may land after ours: true when any of the
// keys no longer reads its "automatic" value.
bool handBackUndone(QSmcCallTransport* pTransport, const std::vector<Request>& writes)
{
    for (const Request& write : writes) {
        SMCVal_t val;
        if (SmcProtocolUtils::readKey(pTransport, write.key.c_str(), &val) == kSmcReturnSuccess &&
            std::memcmp(val.bytes, write.value.data(), write.value.size()) != 0)
            return true;
    }
    return false;
}

// At the end a write the program started just before it ended may still land after ours (its
// tool outlives it for a moment): the flags are watched a little longer and cleared again.
int giveBack(QSmcCallTransport* pTransport, const Request& request, int nSilenceLimitMs)
{
    const std::vector<Request> writes = handBackWrites(pTransport, request);
    constexpr int kSettleSteps = 30;
    constexpr useconds_t kSettleStepUs = 100000;
    bool bKeep = false, bSilent = false;
    WatchEvent event;
    // After a silence the fans are the system's until the program, awake again, takes them on
    // its next control pass; the watch gives them back again only after the next silence.
    while ((event = nextEvent(nSilenceLimitMs, bSilent, bKeep)) == WatchEvent::Silence) {
        writeAll(pTransport, writes);
        bSilent = true;
    }
    if (event == WatchEvent::Keep)
        return 0;
    int nExitCode = writeAll(pTransport, writes);
    for (int step = 0; step < kSettleSteps; ++step) {
        usleep(kSettleStepUs);
        if (handBackUndone(pTransport, writes))
            nExitCode = writeAll(pTransport, writes);
    }
    return nExitCode;
}

bool writesKeys(Mode mode)
{
    return mode == Mode::Write || mode == Mode::GiveBack;
}

int run(const Request& request, QSmcCallTransport* pTransport, int nSilenceLimitMs)
{
    switch (request.mode) {
    case Mode::Write: {
        std::string error;
        if (!valueAllowed(pTransport, request, &error))
            return complain(kExitFailed, error);
        return writeKey(pTransport, request);
    }
    case Mode::GiveBack:
        return giveBack(pTransport, request, nSilenceLimitMs);
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
    const int nSilenceLimitMs = silenceLimitMs(getenv(kSilenceLimitEnv));
    clearEnvironment();

    const Target target = SmcKeyToolUtils::target(socketFromEnv, applesmcFromEnv);
    std::unique_ptr<QSmcCallTransport> pTransport(target.pTransport);
    if (target.pAppleSmc && writesKeys(request.mode))
        target.pAppleSmc->setWriteScope(request.key); // a write touches its fan files alone
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
        // A terminal's interrupt or hang-up is the program's to answer: if it ends the program,
        // the pipe ends and the fans are given back; if not, the watch is still needed.
        signal(SIGINT, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        signal(SIGPIPE, SIG_IGN);
        if (!catchTerminate())
            return complain(kExitFailed, "the watch cannot catch SIGTERM");
    }
    if (request.mode == Mode::List && target.pAppleSmc && target.pAppleSmc->usesControllerIndex())
        target.pAppleSmc->setControllerValues(true);
    return run(request, pTransport.get(), nSilenceLimitMs);
}
