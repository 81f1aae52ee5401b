// Handing a write to the key-writing tool: how it is found, how it is run, and what happens
// when it is missing or cannot be started.
#include "smc/QSmcControlMac.h"
#include "smc/SmcToolUtils.h"
#include "support/QMemoryLogDestination.h"

#include <QtTest>

namespace {
// A stand-in for the tool that records its arguments, one per line, and the simulator socket
// it inherited, then exits with a failure the program must not care about.
const char kRecordingTool[] = "#!/bin/sh\n"
                              "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                              "printf '%s' \"$THERMORA_SMC_SOCKET\" > \"$0.env\"\n"
                              "exit 3\n";

class QNullTransport : public QSmcTransport
{
public:
    bool open() override { return true; }
    void close() override {}
    int call(uint32_t, const SMCKeyData_t&, SMCKeyData_t&) override { return kSmcReturnError; }
};
} // namespace

class TestSmcWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void runsToolWithArguments_data();
    void runsToolWithArguments();
    void backendWritesThroughTool();
    void missingTool_data();
    void missingTool();
    void toolBesideTheProgram();

private:
    QString writeTool(const QByteArray& script, QFile::Permissions permissions);
    QStringList recordedArguments(const QString& tool);
    QStringList newLines(int nBefore);

    QTemporaryDir m_Dir;
    QSharedPointer<QMemoryLogDestination> m_pLog;
};

void TestSmcWriter::initTestCase()
{
    QVERIFY(m_Dir.isValid());
    m_pLog = QSharedPointer<QMemoryLogDestination>::create();
    QsLogging::Logger::instance().addDestination(m_pLog);
}

void TestSmcWriter::cleanup()
{
    SmcToolUtils::setToolPathOverride(QString());
    qunsetenv("THERMORA_SMC_SOCKET");
}

QString TestSmcWriter::writeTool(const QByteArray& script, QFile::Permissions permissions)
{
    static int nTool = 0;
    QFile file(m_Dir.filePath(QStringLiteral("tool%1").arg(++nTool)));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return QString();
    file.close();
    file.setPermissions(permissions);
    return file.fileName();
}

QStringList TestSmcWriter::recordedArguments(const QString& tool)
{
    QFile file(tool + QStringLiteral(".args"));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<tool did not run>")};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList TestSmcWriter::newLines(int nBefore)
{
    QsLogging::Logger::instance().waitForWrites();
    return m_pLog->lines().mid(nBefore);
}

void TestSmcWriter::runsToolWithArguments_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("fan target") << "F0Tg"
                                << "1770";
    QTest::newRow("mask key ends in a blank") << "FS! "
                                              << "0003";
    QTest::newRow("empty value stays an argument") << "F1Tg"
                                                   << "";
}

void TestSmcWriter::runsToolWithArguments()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString tool = writeTool(kRecordingTool, QFile::ReadOwner | QFile::ExeOwner);
    QVERIFY(!tool.isEmpty());
    SmcToolUtils::setToolPathOverride(tool);
    QCOMPARE(SmcToolUtils::toolPath(), tool);
    qputenv("THERMORA_SMC_SOCKET", "/tmp/inherited.sock");

    setKey_external(key, value);
    // Waited for: the tool has finished and left its record when the call returns.
    QCOMPARE(recordedArguments(tool), (QStringList{"-k", key, "-w", value}));
    QFile env(tool + QStringLiteral(".env"));
    QVERIFY(env.open(QIODevice::ReadOnly));
    QCOMPARE(env.readAll(), QByteArray("/tmp/inherited.sock"));
}

void TestSmcWriter::backendWritesThroughTool()
{
    const QString tool = writeTool(kRecordingTool, QFile::ReadOwner | QFile::ExeOwner);
    SmcToolUtils::setToolPathOverride(tool);
    QSmcControlMac smc(new QNullTransport);
    const unsigned char value[2] = {0x17, 0x70};
    QCOMPARE(smc.WriteKey("F0Tg", value, 2), 0); // the tool's failing exit is not examined
    QCOMPARE(recordedArguments(tool), (QStringList{"-k", "F0Tg", "-w", "1770"}));
}

void TestSmcWriter::missingTool_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("logged");
    QTest::newRow("no such file") << 0 << "launchPath is nil";
    QTest::newRow("a folder") << 1 << "launchPath is nil";
    QTest::newRow("not executable") << 2 << "Exception caught: ";
}

void TestSmcWriter::missingTool()
{
    QFETCH(int, kind);
    QFETCH(QString, logged);
    QString path;
    if (kind == 0)
        path = m_Dir.filePath(QStringLiteral("no-such-tool"));
    else if (kind == 1)
        path = m_Dir.path();
    else
        path = writeTool(kRecordingTool, QFile::ReadOwner | QFile::WriteOwner);
    SmcToolUtils::setToolPathOverride(path);

    QsLogging::Logger::instance().waitForWrites();
    const int nBefore = m_pLog->lines().size();
    QSmcControlMac smc(new QNullTransport);
    const unsigned char value[2] = {0x17, 0x70};
    QCOMPARE(smc.WriteKey("F0Tg", value, 2), 0);

    const QStringList lines = newLines(nBefore);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(QLatin1String("ERROR")), qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(logged), qPrintable(lines.first()));
    QVERIFY(!QFile::exists(path + QStringLiteral(".args")));
}

void TestSmcWriter::toolBesideTheProgram()
{
    SmcToolUtils::setToolPathOverride(QString());
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/smc");
    QCOMPARE(SmcToolUtils::platformToolPath(), beside);
    QCOMPARE(SmcToolUtils::toolPath(), QFileInfo(beside).isFile() ? beside : QString());
}

QTEST_GUILESS_MAIN(TestSmcWriter)
#include "tst_smcwriter.moc"
