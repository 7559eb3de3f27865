// The PC's volume against a real PulseAudio server that the test starts with a null sink, on
// a socket of its own: set, mute, a change made with pactl pushed on to the phone, and the
// server going away and coming back.
#include "platform/media/SystemVolumePulse.h"
#include "remote/VolumeCommands.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

class tst_SystemVolume : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_socket;

    // PulseAudio refuses to run as root; under root it runs as nobody.
    QStringList asServerUser() const
    {
        if (getuid() != 0)
            return {};
        return {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")};
    }

    bool startServer()
    {
        QStringList command = asServerUser();
        command << QStringLiteral("env") << QStringLiteral("-i") << QStringLiteral("HOME=") + m_dir.path()
                << QStringLiteral("XDG_RUNTIME_DIR=") + m_dir.path() << QStringLiteral("pulseaudio")
                << QStringLiteral("--daemonize=no") << QStringLiteral("-n")
                << QStringLiteral("--use-pid-file=no") << QStringLiteral("--exit-idle-time=-1")
                << QStringLiteral("--disable-shm=yes") << QStringLiteral("--log-target=stderr")
                << QStringLiteral("-L")
                << QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_socket
                << QStringLiteral("-L") << QStringLiteral("module-null-sink sink_name=velmora_test");
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(command.takeFirst(), command);
        if (!m_server.waitForStarted(5000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (pactl({QStringLiteral("info")}) == QLatin1String("(failed)")) {
            if (waited.elapsed() > 10000 || m_server.state() != QProcess::Running)
                return false;
            QTest::qWait(50);
        }
        return true;
    }

    void stopServer()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }

    // Output of pactl against the test's server; "(failed)" when it failed.
    QString pactl(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + m_socket);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("pactl"), arguments);
        if (!process.waitForFinished(5000) || process.exitCode() != 0)
            return QStringLiteral("(failed)");
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            QSKIP("pulseaudio and pactl are not installed (see scripts/packages.txt)");
        QVERIFY(m_dir.isValid());
        if (getuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            QVERIFY(nobody != nullptr);
            QCOMPARE(chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        m_socket = m_dir.path() + QStringLiteral("/native");
        // The client under test finds the server where pactl does, and nowhere else.
        qputenv("PULSE_SERVER", QFile::encodeName(QStringLiteral("unix:") + m_socket));
        qputenv("PULSE_CLIENTCONFIG", "/dev/null");
        QVERIFY(startServer());
    }

    void cleanupTestCase() { stopServer(); }

    void followsAndDrivesTheDefaultOutput()
    {
        QVector<QJsonObject> pushed;
        auto owned = std::make_unique<SystemVolumePulse>();
        SystemVolumePulse* volume = owned.get();
        qint64 now = 0;
        VolumeCommands commands(
            std::move(owned), [&pushed](const QString&, const QJsonObject& body) { pushed.append(body); },
            [&now] { return now += VolumeCommands::PushIntervalMs; }); // every push goes at once
        QTRY_VERIFY_WITH_TIMEOUT(volume->state().available, 10000);

        commands.handle(QStringLiteral("volumeset"), {{"volume", 40}});
        QTRY_COMPARE(volume->state().volume, 40);
        QVERIFY2(pactl({"get-sink-volume", "velmora_test"}).contains(QLatin1String("40%")),
                 qPrintable(pactl({"get-sink-volume", "velmora_test"})));
        commands.handle(QStringLiteral("volumemute"), {{"muted", true}});
        QTRY_VERIFY(volume->state().muted);
        QVERIFY(pactl({"get-sink-mute", "velmora_test"}).contains(QLatin1String("yes")));

        // Changed on the PC: the phone hears of it.
        QCOMPARE(pactl({"set-sink-volume", "velmora_test", "65%"}), QString());
        QCOMPARE(pactl({"set-sink-mute", "velmora_test", "0"}), QString());
        QTRY_VERIFY(!pushed.isEmpty() && pushed.constLast().value("volume").toInt() == 65 &&
                    !pushed.constLast().value("muted").toBool(true));

        // The server goes away: a clear state, requests do nothing; it comes back: followed again.
        stopServer();
        QTRY_VERIFY_WITH_TIMEOUT(!volume->state().server, 10000);
        QCOMPARE(pushed.constLast().value("server").toBool(true), false);
        QVERIFY(!pushed.constLast().contains("volume"));
        commands.handle(QStringLiteral("volumeset"), {{"volume", 10}});
        QVERIFY(startServer());
        QTRY_VERIFY_WITH_TIMEOUT(volume->state().available, 10000);
        QVERIFY(pushed.constLast().value("available").toBool());
        commands.handle(QStringLiteral("volumeset"), {{"volume", 25}});
        QTRY_COMPARE(volume->state().volume, 25);
    }
};

QTEST_GUILESS_MAIN(tst_SystemVolume)
#include "tst_systemvolume.moc"
