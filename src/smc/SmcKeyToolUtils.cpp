#include "smc/SmcKeyToolUtils.h"

#include "smc/SmcValueUtils.h"

namespace SmcKeyToolUtils {

const char kTrustedSocketPath[] = "/run/thermora-smcsim.sock";

namespace {
bool fail(QString* pError, const QString& reason)
{
    if (pError)
        *pError = reason;
    return false;
}

bool parseKey(const QString& text, QByteArray* pKey, QString* pError)
{
    // toLatin1 would turn any non-Latin-1 character into '?', a printable character.
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return fail(pError, QStringLiteral("key must be four printable ASCII characters"));
    }
    const QByteArray key = text.toLatin1();
    if (!SmcValueUtils::isValidKey(key))
        return fail(pError, QStringLiteral("key must be four printable ASCII characters"));
    *pKey = key;
    return true;
}

const QString kUsage = QStringLiteral("usage: smc -k KEY -w HEX | smc -l | smc -r -k KEY");
} // namespace

bool parseArguments(const QStringList& args, Request* pRequest, QString* pError)
{
    Request request;
    if (args.size() == 4 && args.at(0) == QLatin1String("-k") &&
        args.at(2) == QLatin1String("-w")) {
        request.mode = Mode::Write;
        if (!parseKey(args.at(1), &request.key, pError))
            return false;
        const QString& hex = args.at(3);
        QString reason;
        for (QChar c : hex) {
            if (c.unicode() > 0x7E)
                return fail(pError, QStringLiteral("value: not a lower-case hexadecimal digit"));
        }
        if (hex.isEmpty())
            return fail(pError, QStringLiteral("value: at least one byte is needed"));
        if (!SmcValueUtils::parseHex(hex.toLatin1(), &request.value, &reason))
            return fail(pError, QStringLiteral("value: %1").arg(reason));
    } else if (args.size() == 1 && args.at(0) == QLatin1String("-l")) {
        request.mode = Mode::List;
    } else if (args.size() == 3 && args.at(0) == QLatin1String("-r") &&
               args.at(1) == QLatin1String("-k")) {
        request.mode = Mode::ReadOne;
        if (!parseKey(args.at(2), &request.key, pError))
            return false;
    } else {
        return fail(pError, kUsage);
    }
    *pRequest = request;
    return true;
}

bool isWritableKey(const QByteArray& key)
{
    if (key == "FS! ")
        return true;
    return key.size() == 4 && key.at(0) == 'F' && key.at(1) >= '0' && key.at(1) <= '9' &&
           key.at(2) == 'T' && key.at(3) == 'g';
}

} // namespace SmcKeyToolUtils
