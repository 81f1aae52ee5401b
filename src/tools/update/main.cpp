// thermora-update: the release tool and the installer from the command line.
//
//   thermora-update keygen PREFIX
//       writes a new Ed25519 key pair: PREFIX.key (secret, 0600) and PREFIX.pub (base64).
//   thermora-update sign --key FILE RECORD...
//       signs each release record with the secret key; writes RECORD.sig (base64) beside it.
//   thermora-update --archive FILE --sha256 HEX --version V --program EXE [--relaunch-after PID]
//       installs a downloaded update archive into the tree of an installed program, the same
//       way the program does it itself; the new program must report version V.
//
// THERMORA_UPDATE_KILL_AT=<step> kills the tool as that step begins (0 verify, 1 unpack,
// 2 check, 3 swap, 4 keep-old, 5 relaunch): a way to prove that an install cut short at any
// point leaves a working program.
#include "QsLog/QsLog.h"
#include "localization/QLanguageLoader.h"
#include "update/QUpdateInstaller.h"
#include "update/UpdateRecord.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

namespace {

int complain(const QString& message)
{
    fprintf(stderr, "thermora-update: %s\n", qPrintable(message));
    return 2;
}

bool writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions mode)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.setPermissions(mode) &&
           file.write(bytes) == bytes.size() && file.flush();
}

int keygen(const QStringList& args)
{
    if (args.size() != 1)
        return complain(QStringLiteral("usage: keygen PREFIX"));
    QByteArray publicKey, secretKey;
    if (!UpdateRecordUtils::generateKeyPair(&publicKey, &secretKey))
        return complain(QStringLiteral("no random source"));
    if (!writeFile(args.at(0) + QStringLiteral(".key"), secretKey.toBase64() + '\n',
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        !writeFile(args.at(0) + QStringLiteral(".pub"), publicKey.toBase64() + '\n',
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther))
        return complain(
            QStringLiteral("cannot write %1.key or %1.pub (do they exist?)").arg(args.at(0)));
    printf("%s\n", publicKey.toBase64().constData());
    return 0;
}

int sign(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("key"), QStringLiteral("Secret key file."), QStringLiteral("file")});
    parser.addPositionalArgument(QStringLiteral("record"), QStringLiteral("Release records."));
    if (!parser.parse(QStringList{QStringLiteral("sign")} + args) ||
        parser.positionalArguments().isEmpty() || !parser.isSet(QStringLiteral("key")))
        return complain(QStringLiteral("usage: sign --key FILE RECORD..."));
    QFile keyFile(parser.value(QStringLiteral("key")));
    const QByteArray secretKey = keyFile.open(QIODevice::ReadOnly)
                                     ? QByteArray::fromBase64(keyFile.readAll().trimmed())
                                     : QByteArray();
    if (secretKey.size() != UpdateRecordUtils::kSecretKeyBytes)
        return complain(QStringLiteral("%1 holds no secret key").arg(keyFile.fileName()));
    for (const QString& path : parser.positionalArguments()) {
        QFile file(path);
        const QByteArray record = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QUpdateRecord parsed;
        // A record the program would refuse is never signed.
        if (!UpdateRecordUtils::parse(record, &parsed))
            return complain(QStringLiteral("%1 is not a release record").arg(path));
        const QByteArray signature = UpdateRecordUtils::sign(record, secretKey).toBase64() + '\n';
        QFile out(path + QStringLiteral(".sig"));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(signature) != signature.size())
            return complain(QStringLiteral("cannot write %1").arg(out.fileName()));
        printf("%s: %s", qPrintable(path), signature.constData());
    }
    return 0;
}

int install(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("archive"), QStringLiteral("Update archive."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("sha256"), QStringLiteral("Its SHA-256."), QStringLiteral("hex")});
    parser.addOption({QStringLiteral("version"), QStringLiteral("The version it holds."),
                      QStringLiteral("version")});
    parser.addOption(
        {QStringLiteral("program"), QStringLiteral("Installed program."), QStringLiteral("exe")});
    parser.addOption({QStringLiteral("relaunch-after"),
                      QStringLiteral("Start the program when this process has ended."),
                      QStringLiteral("pid")});
    parser.addHelpOption();
    if (!parser.parse(app.arguments()) || !parser.isSet(QStringLiteral("archive")) ||
        !parser.isSet(QStringLiteral("program")) || !parser.isSet(QStringLiteral("version")))
        return complain(parser.errorText().isEmpty()
                            ? QStringLiteral("--archive, --version and --program are required")
                            : parser.errorText());

    QUpdateInstaller installer(parser.value(QStringLiteral("program")));
    bool bOk = false;
    const int nKillAt = qEnvironmentVariableIntValue("THERMORA_UPDATE_KILL_AT", &bOk);
    if (bOk) {
        installer.stepHook = [nKillAt](QUpdateInstaller::Step step) {
            if (step == nKillAt)
                raise(SIGKILL);
        };
    }
    if (installer.kind() != QUpdateInstaller::TreeInstall) {
        fprintf(stderr, "thermora-update: %s is not in a folder tree this user owns\n",
                qPrintable(installer.root()));
        return 1;
    }
    QFile archive(parser.value(QStringLiteral("archive")));
    // The user names the archive and its checksum: the record is theirs.
    QUpdateRecord record;
    record.version = parser.value(QStringLiteral("version"));
    record.sha256 = parser.value(QStringLiteral("sha256")).trimmed().toLower().toLatin1();
    record.nSize = archive.size();
    const bool bInstalled = archive.open(QIODevice::ReadOnly) &&
                            installer.prepare(archive, record) && installer.commit(record);
    if (!bInstalled) {
        fprintf(stderr, "thermora-update: %s\n", qPrintable(installer.errorMessage()));
        return 1;
    }
    if (parser.isSet(QStringLiteral("relaunch-after")))
        installer.relaunchAfterExit(parser.value(QStringLiteral("relaunch-after")).toLongLong());
    printf("thermora-update: installed into %s\n", qPrintable(installer.root()));
    return 0;
}

int dispatch(const QCoreApplication& app)
{
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("keygen"))
        return keygen(args.mid(1));
    if (args.value(0) == QLatin1String("sign"))
        return sign(args.mid(1));
    return install(app);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int nResult = 0;
    {
        // Messages in the user's language (English built in).
        QLanguageLoader language(QStringLiteral("/Ready/languages/English.xml"));
        language.load(QString());
        nResult = dispatch(app);
    }
    // The logger's writer thread ends while the application object still exists.
    QsLogging::Logger::destroyInstance();
    return nResult;
}
