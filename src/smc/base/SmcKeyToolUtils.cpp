#include "smc/base/SmcKeyToolUtils.h"

#include "smc/base/SmcCodecUtils.h"

#include <cstring>

namespace SmcKeyToolUtils {

const char kTrustedSocketPath[] = "/run/thermora-smcsim.sock";
const char kGiveBackKey[] = "FS! ";
const char kGiveBackValue[2] = {0, 0};
const char kSilenceLimitEnv[] = "THERMORA_GIVEBACK_SILENCE_MS";

namespace {
bool fail(std::string* pError, const std::string& reason)
{
    if (pError)
        *pError = reason;
    return false;
}

// Every byte counts as one character: anything beyond printable ASCII is refused.
bool parseKey(const std::string& text, std::string* pKey, std::string* pError)
{
    if (!SmcCodecUtils::isValidKey(text))
        return fail(pError, "key must be four printable ASCII characters");
    *pKey = text;
    return true;
}

bool parseValue(const std::string& hex, std::string* pValue, std::string* pError)
{
    for (char c : hex) {
        if (static_cast<unsigned char>(c) > 0x7E)
            return fail(pError, "value: not a lower-case hexadecimal digit");
    }
    if (hex.empty())
        return fail(pError, "value: at least one byte is needed");
    std::string reason;
    if (!SmcCodecUtils::parseHex(hex, pValue, &reason))
        return fail(pError, "value: " + reason);
    return true;
}

const char kUsage[] = "usage: smc -k KEY -w HEX | smc -l | smc -r -k KEY | smc --give-back";
} // namespace

bool parseArguments(const std::vector<std::string>& args, Request* pRequest, std::string* pError)
{
    Request request;
    if (args.size() == 4 && args[0] == "-k" && args[2] == "-w") {
        request.mode = Mode::Write;
        if (!parseKey(args[1], &request.key, pError) ||
            !parseValue(args[3], &request.value, pError))
            return false;
    } else if (args.size() == 1 && args[0] == "-l") {
        request.mode = Mode::List;
    } else if (args.size() == 1 && args[0] == "--give-back") {
        request.mode = Mode::GiveBack;
        request.key = kGiveBackKey;
        request.value.assign(kGiveBackValue, sizeof kGiveBackValue);
    } else if (args.size() == 3 && args[0] == "-r" && args[1] == "-k") {
        request.mode = Mode::ReadOne;
        if (!parseKey(args[2], &request.key, pError))
            return false;
    } else {
        return fail(pError, kUsage);
    }
    *pRequest = request;
    return true;
}

int silenceLimitMs(const char* envValue)
{
    if (!envValue || !*envValue || std::strlen(envValue) > 5)
        return kSilenceLimitMs;
    int nMs = 0;
    for (const char* p = envValue; *p; ++p) {
        if (*p < '0' || *p > '9')
            return kSilenceLimitMs;
        nMs = nMs * 10 + (*p - '0');
    }
    return nMs >= kShortestSilenceLimitMs && nMs < kSilenceLimitMs ? nMs : kSilenceLimitMs;
}

bool isWritableKey(const std::string& key)
{
    return key == "FS! " || key == "Ftst" || isFanKey(key, "Tg") || isFanKey(key, "Md");
}

bool isFanKey(const std::string& key, const char* suffix)
{
    return key.size() == 4 && key[0] == 'F' && key[1] >= '0' && key[1] <= '9' &&
           key.compare(2, 2, suffix) == 0;
}

} // namespace SmcKeyToolUtils
