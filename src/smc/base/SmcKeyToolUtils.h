#pragma once

#include <string>
#include <vector>

class QSmcCallTransport;

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
};

struct Request
{
    Mode mode = Mode::Write;
    std::string key;   // four printable ASCII characters
    std::string value; // the bytes to write (Write only)
};

// Parses the arguments after the program name. Exactly "-k KEY -w HEX", "-l" or
// "-r -k KEY"; false with a one-line reason otherwise.
bool parseArguments(const std::vector<std::string>& args, Request* pRequest, std::string* pError);

// The keys the program writes: a fan's target speed "F%uTg" for fans 0..9, and the fan-mode
// mask "FS! ".
bool isWritableKey(const std::string& key);

// How the tool reaches the service on this platform (linux/ or mac/).
struct Target
{
    QSmcCallTransport* pTransport = nullptr; // owned by the caller
    bool bConnectPrivileged = false;         // may connect before dropping privileges
    bool bWritePrivileged = false;           // must keep privileges until the write is done
    std::string description;                 // for messages
};
// socketFromEnv: what the caller's environment named (empty when nothing).
Target target(const std::string& socketFromEnv);

// The socket the tool contacts with its privileges when the caller names no other.
extern const char kTrustedSocketPath[];

// Sets the group and user ids to the real ones for good and checks that they cannot be
// regained; false with a reason when that fails (the tool must then stop).
bool dropPrivileges(std::string* pError);

} // namespace SmcKeyToolUtils
