#include "support/TerminalQr.h"
#include "support/VelmoraProcess.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

namespace {

// A user of its own for the stranger case, created on first use.
const char kStranger[] = "velmora-stranger";

struct Result
{
    int exitCode = -2;
    QString out;
    QString err;
};

Result run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

bool canMakeNetworkNamespaces()
{
    return ::geteuid() == 0 && QProcess::execute(QStringLiteral("unshare"), {"-n", "true"}) == 0;
}

} // namespace

// `velmora --pair` against the real program. The running copy binds the fixed ports, so it runs in
// a network namespace of its own, with one made-up LAN address; the asking copy stays outside,
// since the single-instance socket lives in the file system.
class TestPairCommand : public QObject
{
    Q_OBJECT
private slots:
    void withoutRunningCopy();
    void printsScannableLinks();
};

void TestPairCommand::withoutRunningCopy()
{
    VelmoraProcess velmora;
    velmora.environment().insert("LANG", "C.UTF-8");
    velmora.environment().insert("LANGUAGE", "en");
    velmora.environment().remove("DISPLAY"); // as over SSH
    const Result pair = run(VELMORA_BINARY, {"--pair"}, velmora.environment());
    QCOMPARE(pair.exitCode, 1);
    QVERIFY2(pair.err.contains("Velmora is not running"), qPrintable(pair.err));
    QVERIFY(pair.out.isEmpty());

    const Result help = run(VELMORA_BINARY, {"--help"}, velmora.environment());
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains("--pair") && help.out.contains("--send"));

    // --send: a missing file is named before anything is asked; then nobody to ask.
    const Result missing = run(VELMORA_BINARY, {"--send", "/nonexistent/report.pdf"}, velmora.environment());
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.err.contains("Cannot read /nonexistent/report.pdf"), qPrintable(missing.err));
    const Result send = run(VELMORA_BINARY, {"--send", VELMORA_BINARY}, velmora.environment());
    QCOMPARE(send.exitCode, 1);
    QVERIFY2(send.err.contains("Velmora is not running"), qPrintable(send.err));
}

void TestPairCommand::printsScannableLinks()
{
    if (!canMakeNetworkNamespaces())
        QSKIP("creating network namespaces needs root");
    VelmoraProcess velmora;
    QProcessEnvironment& environment = velmora.environment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LANG", "C.UTF-8");
    environment.insert("LANGUAGE", "en");
    const QString setup = QStringLiteral(
        "ip link set lo up && ip link add vm0 type veth peer name vm1 && ip addr add 10.77.0.1/24 dev vm0 && "
        "ip link set vm1 up && ip link set vm0 up && exec \"$0\"");
    velmora.start(QStringLiteral("unshare"), {"-n", "sh", "-c", setup, VELMORA_BINARY});
    QVERIFY2(velmora.waitForLog("HTTP服务器已启动"), qPrintable(velmora.log()));

    environment.remove("QT_QPA_PLATFORM");
    environment.remove("DISPLAY");
    const Result pair = run(VELMORA_BINARY, {"--pair"}, environment);
    QVERIFY2(pair.exitCode == 0, qPrintable(pair.out + pair.err));
    const QStringList lines = pair.out.split('\n');
    const QRegularExpression link(QStringLiteral("^http://10\\.77\\.0\\.1:6888/#token=[0-9a-f]{32}$"));
    const int linkLine = lines.indexOf(link);
    QVERIFY2(linkLine > 0, qPrintable(pair.out));
    const int codeLine = lines.indexOf(QRegularExpression(QStringLiteral("\x1b\\[.*")));
    QVERIFY(codeLine > 0 && codeLine < linkLine);
    QCOMPARE(decodeQr(terminalQrImage(lines, codeLine)), lines.at(linkLine));
    const QString token = lines.at(linkLine).section('=', 1);

    // The running copy says that links were asked for, and never what they were.
    QVERIFY(velmora.waitForLog("Pairing links requested"));
    QVERIFY(!velmora.log().contains(token));

    // Running, but no phone connected: --send says so.
    const Result send = run(VELMORA_BINARY, {"--send", VELMORA_BINARY}, environment);
    QCOMPARE(send.exitCode, 1);
    QVERIFY2(send.err.contains("No phone is connected"), qPrintable(send.err));

    // A phone app on the command port (this user's, on loopback, so not asked about): --send
    // succeeds and the app is pushed the offer, whose link stays out of the log.
    QProcess phone;
    phone.start(
        "nsenter",
        {QStringLiteral("--net=/proc/%1/ns/net").arg(velmora.process().processId()), "bash", "-c",
         "exec 3<>/dev/tcp/127.0.0.1/8888 && echo connected && "
         "while IFS= read -r line <&3; do case $line in *fileoffer*) echo \"$line\"; exit 0;; esac; done"});
    QVERIFY(phone.waitForReadyRead(10000) && phone.readLine() == "connected\n");
    QVERIFY2(velmora.waitForLog("新客户端连接"), qPrintable(velmora.log()));
    const Result sent = run(VELMORA_BINARY, {"--send", VELMORA_BINARY}, environment);
    QVERIFY2(sent.exitCode == 0, qPrintable(sent.out + sent.err));
    QVERIFY(phone.waitForFinished(10000));
    const QJsonObject offer = QJsonDocument::fromJson(phone.readAll()).object().value("params").toObject();
    QCOMPARE(offer.value("name").toString(), QFileInfo(VELMORA_BINARY).fileName());
    const QString url = offer.value("url").toString();
    QVERIFY2(url.startsWith("download/") && url.size() > 20, qPrintable(url));
    QVERIFY(velmora.waitForLog("File offered to the phone app"));
    QVERIFY(!velmora.log().contains(url.mid(9)));

    // Another user, with this user's environment: nothing.
    if (QProcess::execute("id", {"-u", kStranger}) != 0)
        QCOMPARE(QProcess::execute(
                     "useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", kStranger}),
                 0);
    const Result stranger =
        run("setpriv",
            {QStringLiteral("--reuid=%1").arg(kStranger), QStringLiteral("--regid=%1").arg(kStranger),
             "--clear-groups", VELMORA_BINARY, "--pair"},
            environment);
    QCOMPARE(stranger.exitCode, 1);
    QVERIFY(!stranger.out.contains(token) && !stranger.err.contains(token));
    QVERIFY(!stranger.out.contains("token="));

    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
}

QTEST_GUILESS_MAIN(TestPairCommand)
#include "tst_paircommand.moc"
