#pragma once

#include <string>
#include <vector>

class QSmcCallTransport;
class QAppleSmcTransport;

// The key-writing tool's own rules. The tool is set-user-ID: it trusts nothing its caller
// hands it, so arguments are checked strictly, the environment is cleared, only the fan keys
// the program writes are accepted, and privileges are dropped before anything the caller
// names is contacted.
namespace SmcKeyToolUtils {

enum class Mode
{
    Write,   // -k KEY -w HEX
    List,    // -l
    ReadOne, // -r -k KEY
    // --give-back: the watch. Clears every fan's manual flag ("FS! " to 0) when standard input
    // ends (the program holding the pipe exited, crashed or was killed) or a SIGTERM comes,
    // then exits; and when the program's heartbeat bytes stop for the silence limit (a hung
    // program), then watches on.
    GiveBack,
};

struct Request
{
    Mode mode = Mode::Write;
    std::string key;   // four printable ASCII characters
    std::string value; // the bytes to write (Write only)
};

// Parses the arguments after the program name. Exactly "-k KEY -w HEX", "-l", "-r -k KEY" or
// "--give-back"; false with a one-line reason otherwise.
bool parseArguments(const std::vector<std::string>& args, Request* pRequest, std::string* pError);

// The keys the program writes: a fan's target speed "F%uTg" for fans 0..9, the fan-mode mask
// "FS! ", a fan's mode key "F%uMd" and the unlock "Ftst".
bool isWritableKey(const std::string& key);
// "F<digit><suffix>", e.g. isFanKey("F1Md", "Md").
bool isFanKey(const std::string& key, const char* suffix);

// How the tool reaches the service on this platform (linux/ or mac/).
struct Target
{
    QSmcCallTransport* pTransport = nullptr; // owned by the caller
    bool bConnectPrivileged = false;         // may connect before dropping privileges
    bool bWritePrivileged = false;           // must keep privileges until the write is done
    std::string description;                 // for messages
    QAppleSmcTransport* pAppleSmc = nullptr; // pTransport when it is the applesmc driver
};
// socketFromEnv: what the caller's environment named (empty when nothing).
Target target(const std::string& socketFromEnv);
// Also the applesmc folder the caller named (THERMORA_APPLESMC_DIR; empty when none). Where
// the platform has the applesmc driver, its real folder is opened with the tool's privileges;
// a folder the caller names only after dropping them.
Target target(const std::string& socketFromEnv, const std::string& applesmcDirFromEnv);

// The bytes "FS! " gets when the fans are given back: no fan under manual control.
extern const char kGiveBackKey[];
extern const char kGiveBackValue[2];

// The watch gives the fans back after this long without a heartbeat byte from the program.
constexpr int kSilenceLimitMs = 10000;
// The shortest limit a test may ask for.
constexpr int kShortestSilenceLimitMs = 100;
// The environment variable that shortens the limit for tests. Read by the program (for its
// heartbeat) and by the watch before it clears its environment.
extern const char kSilenceLimitEnv[];
// The limit from that variable's value (nullptr when unset): honoured only when it is a whole
// number of milliseconds below kSilenceLimitMs and not below kShortestSilenceLimitMs. A caller of
// the set-user-ID tool can so only make its watch give the fans back sooner, never later.
int silenceLimitMs(const char* envValue);
// The program beats ten times per limit: once a second by default.
constexpr int heartbeatIntervalMs(int nSilenceLimitMs)
{
    return nSilenceLimitMs / 10;
}

// The socket the tool contacts with its privileges when the caller names no other.
extern const char kTrustedSocketPath[];

// Sets the group and user ids to the real ones for good and checks that they cannot be
// regained; false with a reason when that fails (the tool must then stop).
bool dropPrivileges(std::string* pError);

} // namespace SmcKeyToolUtils
