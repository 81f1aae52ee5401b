// thermora-applesmc-tree: builds a folder shaped like the applesmc driver's from a key dump.
//
//     thermora-applesmc-tree DUMP DIR [--model ID]
//
// Then THERMORA_APPLESMC_DIR=DIR runs the program (and the key-writing tool) on it; with
// --model, DIR/dmi holds sys_vendor and product_name for THERMORA_DMI_DIR.
#include "AppleSmcTreeUtils.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
const char kUsage[] = "usage: thermora-applesmc-tree DUMP DIR [--model ID]\n";

int fail(const QString& message)
{
    std::fprintf(stderr, "thermora-applesmc-tree: %s\n", qUtf8Printable(message));
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2 && !(args.size() == 4 && args[2] == QLatin1String("--model"))) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QVector<QSimKey> keys;
    QString error;
    if (!SimDumpUtils::loadDumpFile(args[0], keys, &error))
        return fail(error);
    if (!AppleSmcTreeUtils::writeTree(keys, args[1], &error))
        return fail(error);
    if (args.size() == 4 && !AppleSmcTreeUtils::writeDmi(args[3], args[1] + "/dmi", &error))
        return fail(error);
    std::printf("%s: %d keys\n", qUtf8Printable(args[1]), keys.size());
    return 0;
}
