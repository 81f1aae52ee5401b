// thermora-smcsim: serves a simulated System Management Controller on a Unix-domain socket.

#include "sim/QSimDrives.h"
#include "sim/QSimProfile.h"
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: thermora-smcsim --socket PATH (--profile NAME|FILE | --dump FILE [--model ID])\n"
    "                       [--seed N] [--root-writes-only]\n"
    "                       [--max-clients N] [--idle-timeout SECS]\n"
    "                       [--fault-read KEY] [--fault-slow-write KEY[=MSECS]]\n"
    "                       [--fault-hot KEY[=CELSIUS]] [--fault-index N]\n"
    "                       [--drive IDENTIFY_FILE,SMART_FILE]\n"
    "  --max-clients N          clients served at once, more wait (default 64)\n"
    "  --idle-timeout SECS      a client silent this long is dropped (default 30)\n"
    "  --fault-read KEY         reads of KEY fail (repeatable)\n"
    "  --fault-slow-write KEY   writes of KEY take MSECS (default 3000) before they apply\n"
    "  --fault-hot KEY          sensor KEY reads CELSIUS (default 130)\n"
    "  --fault-index N          the key index entry N cannot be fetched (repeatable)\n"
    "  --drive I,S              one more drive replaying its raw 512-byte IDENTIFY DEVICE and\n"
    "                           SMART READ DATA blocks (repeatable)\n";

QSimServer* g_pServer = nullptr;

void onSignal(int)
{
    if (g_pServer)
        g_pServer->stop();
}

struct Options
{
    QString socketPath;
    QString profile;
    QString dump;
    QString model;
    bool bSeed = false;
    quint64 nSeed = 1;
    bool bRootWritesOnly = false;
    QSimServerLimits limits;
    QList<QByteArray> readFaults;
    QList<QPair<QByteArray, int>> slowWrites;
    QList<QPair<QByteArray, double>> hotSensors;
    QList<int> indexFaults;
    QList<QStringList> drives; // identify file, SMART file
};

[[noreturn]] void usageError(const QString& message)
{
    std::fprintf(stderr, "thermora-smcsim: %s (see --help)\n", qPrintable(message));
    std::exit(2);
}

// "KEY" or "KEY=VALUE": the key is exactly four characters and may hold blanks.
QByteArray splitKey(const QString& option, const QString& arg, QString& value)
{
    const QByteArray bytes = arg.toLatin1();
    if (bytes.size() < 4 || (bytes.size() > 4 && bytes.at(4) != '=' && bytes.at(4) != ':'))
        usageError(QStringLiteral("%1 needs a four-character key, got \"%2\"").arg(option, arg));
    value = bytes.size() > 4 ? QString::fromLatin1(bytes.mid(5)) : QString();
    return bytes.left(4);
}

Options parseOptions(const QStringList& args)
{
    Options options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& option = args.at(i);
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (option == "--root-writes-only") {
            options.bRootWritesOnly = true;
            continue;
        }
        if (i + 1 >= args.size())
            usageError(QStringLiteral("%1 needs a value").arg(option));
        const QString arg = args.at(++i);
        QString value;
        bool bOk = true;
        if (option == "--socket") {
            options.socketPath = arg;
        } else if (option == "--profile") {
            options.profile = arg;
        } else if (option == "--dump") {
            options.dump = arg;
        } else if (option == "--model") {
            options.model = arg;
        } else if (option == "--seed") {
            options.bSeed = true;
            options.nSeed = arg.toULongLong(&bOk);
        } else if (option == "--max-clients") {
            options.limits.nMaxClients = arg.toInt(&bOk);
            bOk = bOk && options.limits.nMaxClients > 0;
        } else if (option == "--idle-timeout") {
            const double dSecs = arg.toDouble(&bOk);
            bOk = bOk && dSecs > 0 && dSecs <= 86400;
            options.limits.nIdleMsecs = bOk ? int(dSecs * 1000) : 0;
        } else if (option == "--fault-read") {
            options.readFaults << splitKey(option, arg, value);
            bOk = value.isEmpty();
        } else if (option == "--fault-slow-write") {
            const QByteArray key = splitKey(option, arg, value);
            const int nMsecs = value.isEmpty() ? 3000 : value.toInt(&bOk);
            bOk = bOk && nMsecs > 0;
            options.slowWrites << qMakePair(key, nMsecs);
        } else if (option == "--fault-hot") {
            const QByteArray key = splitKey(option, arg, value);
            options.hotSensors << qMakePair(key, value.isEmpty() ? 130.0 : value.toDouble(&bOk));
        } else if (option == "--fault-index") {
            options.indexFaults << arg.toInt(&bOk);
            bOk = bOk && options.indexFaults.last() >= 0;
        } else if (option == "--drive") {
            QString identify, smart;
            bOk = QSimDrives::splitDriveArgument(arg, identify, smart);
            options.drives << QStringList{identify, smart};
        } else {
            usageError(QStringLiteral("unknown option \"%1\"").arg(option));
        }
        if (!bOk)
            usageError(QStringLiteral("bad value \"%1\" for %2").arg(arg, option));
    }
    if (options.socketPath.isEmpty())
        usageError(QStringLiteral("--socket PATH is required"));
    if (options.profile.isEmpty() == options.dump.isEmpty())
        usageError(QStringLiteral("give exactly one of --profile and --dump"));
    return options;
}

bool loadSimulator(const Options& options, QSimSmc& sim, QString& name, QString& error)
{
    QSimProfile profile;
    if (!options.profile.isEmpty()) {
        const QStringList dirs =
            QSimProfile::defaultSearchDirs(QCoreApplication::applicationDirPath());
        const QString path = QSimProfile::find(options.profile, dirs);
        if (path.isEmpty()) {
            error = QStringLiteral("no profile \"%1\" (looked in %2)")
                        .arg(options.profile, dirs.join(QStringLiteral(", ")));
            return false;
        }
        if (!QSimProfile::load(path, profile, &error))
            return false;
    } else {
        profile.dumpPath = options.dump;
    }
    if (!options.model.isEmpty())
        profile.model = options.model;
    if (options.bSeed)
        profile.dynamics.nSeed = options.nSeed;
    if (!sim.loadProfile(profile, &error))
        return false;
    for (const QStringList& drive : options.drives) {
        if (!sim.drives().addReplayed(drive.at(0), drive.at(1), &error))
            return false;
    }
    name = profile.model.isEmpty() ? QFileInfo(profile.dumpPath).fileName() : profile.model;
    return true;
}

// A fault on a key the table does not have is a typing error, not a fault to simulate.
bool applyFaults(const Options& options, QSimSmc& sim, QString& error)
{
    QByteArray bytes;
    auto missing = [&](const QByteArray& key, const char* what) {
        error = QStringLiteral("%1 \"%2\" is not in the table").arg(what, QString::fromLatin1(key));
        return false;
    };
    for (const QByteArray& key : options.readFaults) {
        if (!sim.value(key, bytes))
            return missing(key, "--fault-read key");
        sim.setReadFault(key, true);
    }
    for (const auto& slow : options.slowWrites) {
        if (!sim.value(slow.first, bytes))
            return missing(slow.first, "--fault-slow-write key");
        sim.setSlowWrite(slow.first, slow.second);
    }
    for (const auto& hot : options.hotSensors) {
        if (std::isnan(sim.temperature(hot.first)))
            return missing(hot.first, "--fault-hot temperature sensor");
        sim.setHotSensor(hot.first, hot.second);
    }
    for (int nIndex : options.indexFaults) {
        if (nIndex >= sim.keyCount()) {
            error = QStringLiteral("--fault-index %1 is past the last index %2")
                        .arg(nIndex)
                        .arg(sim.keyCount() - 1);
            return false;
        }
        sim.setIndexFault(nIndex, true);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv); // for the program's folder and argument decoding
    const Options options = parseOptions(QCoreApplication::arguments());

    QSimSmc sim;
    QString name, error;
    if (!loadSimulator(options, sim, name, error)) {
        std::fprintf(stderr, "thermora-smcsim: %s\n", qPrintable(error));
        return 2;
    }
    sim.setRootWritesOnly(options.bRootWritesOnly);
    if (!applyFaults(options, sim, error)) {
        std::fprintf(stderr, "thermora-smcsim: %s\n", qPrintable(error));
        return 2;
    }

    QSimServer server(sim, options.limits);
    sim.setSlowWriteHandler([&server](int nMsecs) { server.sleepInterruptibly(nMsecs); });
    g_pServer = &server;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (!server.listen(options.socketPath, &error)) {
        std::fprintf(stderr, "thermora-smcsim: %s\n", qPrintable(error));
        return 1;
    }

    std::printf("thermora-smcsim: serving %s (%d keys) on %s\n", qPrintable(name), sim.keyCount(),
                qPrintable(options.socketPath));
    std::fflush(stdout);
    server.run();
    g_pServer = nullptr;
    return 0;
}
