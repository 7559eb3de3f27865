// The media-player link and the "mediastatus" / "mediacontrol" commands: against players of our
// own on a private session bus (dbus-daemon), against the recording link for the timing of the
// pushes, and against mpv with its MPRIS plugin where both are installed.

#include "FakeMprisPlayer.h"
#include "data/DataTestSupport.h"
#include "platform/input/InputBackendFake.h"
#include "platform/media/MediaPlayerLinkFake.h"
#include "platform/media/MediaPlayerLinkMpris.h"
#include "remote/MediaStatus.h"
#include "remote/RemoteTestSupport.h"
#include "remote/Server.h"
#include "support/PrivateBus.h"

#include <QBuffer>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QImage>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>

#include <cmath>
#include <optional>

using Action = MediaPlayerLink::Action;
Q_DECLARE_METATYPE(std::optional<MediaControlRequest>)

namespace {

// A player on a connection of its own, as a separate program would have.
class BusPlayer
{
public:
    BusPlayer(const QString& address, const QString& suffix, const QString& identity)
        : m_connection(QStringLiteral("player-") + suffix)
    {
        m_player = std::make_unique<FakeMprisPlayer>(QDBusConnection::connectToBus(address, m_connection),
                                                     suffix, identity);
    }
    ~BusPlayer()
    {
        m_player.reset();
        QDBusConnection::disconnectFromBus(m_connection);
    }
    FakeMprisPlayer* operator->() const { return m_player.get(); }
    FakeMprisPlayer& operator*() const { return *m_player; }

private:
    QString m_connection;
    std::unique_ptr<FakeMprisPlayer> m_player;
};

// The params of the next "mediastatus" message the phone gets that satisfies `wanted`; earlier
// ones are passed over. Empty after five seconds without one.
template <typename Predicate> QJsonObject awaitStatus(Phone& phone, Predicate wanted)
{
    QJsonObject found;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            while (phone.socket().canReadLine()) {
                const QJsonObject message = QJsonDocument::fromJson(phone.socket().readLine()).object();
                const QJsonObject params = message.value("params").toObject();
                if (message.value("command").toString() == "mediastatus" && wanted(params)) {
                    found = params;
                    return true;
                }
            }
            return false;
        },
        5000));
    return found;
}

QJsonObject nextStatus(Phone& phone)
{
    return awaitStatus(phone, [](const QJsonObject&) { return true; });
}

QJsonObject awaitTitle(Phone& phone, const QString& title)
{
    return awaitStatus(phone, [&](const QJsonObject& p) { return p.value("title").toString() == title; });
}

// A mono 16-bit WAV file of a quiet tone.
bool writeTone(const QString& path, int seconds)
{
    const int rate = 8000;
    QByteArray samples;
    for (int i = 0; i < rate * seconds; ++i) {
        const qint16 v = qint16(1000 * std::sin(i * 2 * M_PI * 440 / rate));
        samples.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
    }
    const auto le32 = [](quint32 v) {
        return QByteArray(reinterpret_cast<const char*>(&v), 4);
    };
    const auto le16 = [](quint16 v) {
        return QByteArray(reinterpret_cast<const char*>(&v), 2);
    };
    QByteArray wav = "RIFF" + le32(36 + samples.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
                     le32(rate) + le32(rate * 2) + le16(2) + le16(16) + "data" + le32(samples.size()) +
                     samples;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size();
}

} // namespace

class TestMediaPlayers : public QObject
{
    Q_OBJECT
    PrivateBus m_daemon;
    QString m_address;
    int m_linkCount = 0;

    std::unique_ptr<MediaPlayerLinkMpris> makeLink()
    {
        const QString name = QStringLiteral("link-%1").arg(++m_linkCount);
        return std::make_unique<MediaPlayerLinkMpris>(QDBusConnection::connectToBus(m_address, name));
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (PrivateBus::daemon().isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        QString error;
        QVERIFY2(m_daemon.start(&error), qPrintable(error));
        m_address = m_daemon.address();
        // Players started from here, and the system's own link, find this bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }
    void cleanupTestCase() { m_daemon.stop(); }

    // The launched player first, then a playing one (the latest to start), then the latest seen.
    void preferenceOrder()
    {
        BusPlayer a(m_address, "a", "Player A");
        QVERIFY(a->isPublished());
        a->setTrack("Song A", "Artist A", 100);
        a->setPlaybackStatus("Paused");
        const auto link = makeLink();
        QSignalSpy changed(link.get(), &MediaPlayerLink::changed);
        QTRY_COMPARE(link->currentPlayer(), a->busName());
        QCOMPARE(link->status().title, "Song A");
        QCOMPARE(link->status().player, "Player A");

        auto b = std::make_unique<BusPlayer>(m_address, "b", "Player B");
        QTRY_COMPARE(link->currentPlayer(), (*b)->busName()); // the latest seen
        a->setPlaybackStatus("Playing");
        QTRY_COMPARE(link->currentPlayer(), a->busName()); // playing beats seen

        link->noteLaunch();
        auto c = std::make_unique<BusPlayer>(m_address, "c", "Player C");
        QTRY_COMPARE(link->currentPlayer(), (*c)->busName()); // launched beats playing
        (*b)->setPlaybackStatus("Playing");
        QTest::qWait(100); // give B's change time to arrive: it must not take over
        QCOMPARE(link->currentPlayer(), (*c)->busName());

        c.reset(); // the launched player goes: the latest to start playing follows
        QTRY_COMPARE(link->currentPlayer(), (*b)->busName());
        b.reset();
        QTRY_COMPARE(link->currentPlayer(), a->busName());
        QVERIFY(changed.count() >= 5);
    }

    // A player counts as the launched one only when it appears within the window after a launch.
    void launchWindow_data()
    {
        QTest::addColumn<qint64>("delay");
        QTest::addColumn<bool>("launched");
        QTest::newRow("at once") << qint64(0) << true;
        QTest::newRow("at the end of the window") << qint64(MediaPlayerLinkMpris::LaunchWindowMs) << true;
        QTest::newRow("too late") << qint64(MediaPlayerLinkMpris::LaunchWindowMs + 1) << false;
    }
    void launchWindow()
    {
        QFETCH(qint64, delay);
        QFETCH(bool, launched);
        BusPlayer playing(m_address, "playing", "Playing");
        playing->setPlaybackStatus("Playing");
        qint64 now = 0;
        MediaPlayerLinkMpris link(
            QDBusConnection::connectToBus(m_address, QStringLiteral("link-%1").arg(++m_linkCount)),
            [&now] { return now; });
        QTRY_COMPARE(link.currentPlayer(), playing->busName());
        link.noteLaunch();
        now += delay;
        BusPlayer newcomer(m_address, "newcomer", "Newcomer"); // stopped: only a launch puts it first
        if (launched) {
            QTRY_COMPARE(link.currentPlayer(), newcomer->busName());
            return;
        }
        // Not launched: it is just the latest to play, until the other one plays again.
        newcomer->setPlaybackStatus("Playing");
        QTRY_COMPARE(link.currentPlayer(), newcomer->busName());
        playing->setPlaybackStatus("Paused");
        playing->setPlaybackStatus("Playing");
        QTRY_COMPARE(link.currentPlayer(), playing->busName());
    }

    void controls_data()
    {
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<QString>("call");
        QTest::newRow("play") << QByteArray(R"({"action":"play"})") << "Play";
        QTest::newRow("pause") << QByteArray(R"({"action":"pause","value":"ignored"})") << "Pause";
        QTest::newRow("playpause") << QByteArray(R"({"action":"playpause"})") << "PlayPause";
        QTest::newRow("next") << QByteArray(R"({"action":"next"})") << "Next";
        QTest::newRow("previous") << QByteArray(R"({"action":"previous","extra":1})") << "Previous";
        QTest::newRow("seek back") << QByteArray(R"({"action":"seek","value":-5})") << "Seek -5000000";
        QTest::newRow("position") << QByteArray(R"({"action":"position","value":42.5})")
                                  << "SetPosition /track/1 42500000";
        QTest::newRow("volume") << QByteArray(R"({"action":"volume","value":0.25})") << "Volume 0.25";
        // A refused request reaches no player: only the "next" sent after it does.
        QTest::newRow("refused") << QByteArray(R"({"action":"volume","value":1.5})") << "";
    }
    void controls()
    {
        QFETCH(QByteArray, params);
        QFETCH(QString, call);
        BusPlayer player(m_address, "ctl", "Controlled");
        player->setTrack("Song", "Artist", 300);
        auto link = makeLink();
        MediaPlayerLinkMpris* raw = link.get();
        Server server(std::make_unique<InputBackendFake>(), nullptr);
        server.setMediaPlayerLink(std::move(link));
        QTRY_COMPARE(raw->currentPlayer(), player->busName());

        server.handleMessage(R"({"command":"mediacontrol","params":)" + params + "}");
        server.handleMessage(R"({"command":"mediacontrol","params":{"action":"next"}})");
        const QStringList expected = call.isEmpty() ? QStringList{"Next"} : QStringList{call, "Next"};
        QTRY_COMPARE(player->calls(), expected);
    }

    // The phone hears of every change of the controlled player, including its going away.
    void statusFollowsThePlayer()
    {
        auto first = std::make_unique<BusPlayer>(m_address, "first", "First");
        (*first)->setTrack("Alpha", "Ann", 200);
        (*first)->setPlaybackStatus("Paused");
        auto link = makeLink();
        MediaPlayerLinkMpris* raw = link.get();
        auto* clock = new InputBackendFake;
        Server server(std::unique_ptr<InputBackend>(clock), nullptr);
        server.setMediaPlayerLink(std::move(link));
        QVERIFY(server.start(0));
        Phone phone;
        QVERIFY(phone.attach(server));
        QTRY_COMPARE(raw->currentPlayer(), (*first)->busName());

        phone.send("{\"command\":\"mediastatus\"}\n");
        QCOMPARE(awaitTitle(phone, "Alpha"), QJsonObject({{"running", true},
                                                          {"player", "First"},
                                                          {"title", "Alpha"},
                                                          {"artist", "Ann"},
                                                          {"album", "Album of Ann"},
                                                          {"status", "Paused"},
                                                          {"length", 200.0},
                                                          {"volume", 1.0},
                                                          {"position", 0.0}}));

        (*first)->setTrack("Beta", "Bob", 90);
        QVERIFY(!awaitTitle(phone, "Beta").isEmpty());
        (*first)->seekTo(30000000);
        const QJsonObject seeked =
            awaitStatus(phone, [](const QJsonObject& p) { return p.value("position").toDouble() == 30; });
        QCOMPARE(seeked.value("title").toString(), "Beta");

        first.reset();
        QVERIFY(!awaitStatus(phone, [](const QJsonObject& p) {
                     return !p.value("running").toBool(true);
                 }).isEmpty());
        BusPlayer second(m_address, "second", "Second");
        second->setTrack("Gamma", "Gil", 60);
        QCOMPARE(awaitTitle(phone, "Gamma").value("player").toString(), "Second");
    }

    // At most one push per interval; changes inside it are folded into one later push with
    // the state of that moment.
    void pushesAreSpaced()
    {
        auto* clock = new InputBackendFake;
        auto* link = new MediaPlayerLinkFake;
        Server server(std::unique_ptr<InputBackend>(clock), nullptr);
        server.setMediaPlayerLink(std::unique_ptr<MediaPlayerLink>(link));
        MediaPlayerStatus status;
        status.running = true;
        status.title = "before"; // nobody is connected: nothing is sent, nothing is held back
        link->setStatus(status);
        QVERIFY(server.start(0));
        Phone phone;
        QVERIFY(phone.attach(server));

        for (const char* title : {"one", "two", "three", "four"}) {
            status.title = title;
            link->setStatus(status);
        }
        const auto title = [&phone] {
            return nextStatus(phone).value("title").toString();
        };
        QCOMPARE(title(), "one");
        QCOMPARE(title(), "four");
        // Nothing else was pushed: the next line is the answer to this question.
        phone.send("{\"command\":\"mediastatus\"}\n");
        QCOMPARE(title(), "four");

        clock->advance(Server::MediaStatusIntervalMs);
        status.title = "five";
        link->setStatus(status);
        QCOMPARE(title(), "five");
    }

    void parseControl_data()
    {
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<std::optional<MediaControlRequest>>("expected");
        const auto row = [](const char* name, const char* params,
                            std::optional<MediaControlRequest> expected) {
            QTest::newRow(name) << QByteArray(params) << expected;
        };
        const auto ok = [](Action a, double v = 0) {
            return std::optional<MediaControlRequest>({a, v});
        };
        const std::nullopt_t bad = std::nullopt;
        row("play", R"({"action":"play"})", ok(Action::Play));
        row("seek forward", R"({"action":"seek","value":10})", ok(Action::Seek, 10));
        row("seek far", R"({"action":"seek","value":-1e7})", ok(Action::Seek, -1e7));
        row("seek too far", R"({"action":"seek","value":1e300})", bad);
        row("seek value as text", R"({"action":"seek","value":"5"})", bad);
        row("position 0", R"({"action":"position","value":0})", ok(Action::Position, 0));
        row("position negative", R"({"action":"position","value":-1})", bad);
        row("position missing", R"({"action":"position"})", bad);
        row("volume silent", R"({"action":"volume","value":0})", ok(Action::Volume, 0));
        row("volume full", R"({"action":"volume","value":1})", ok(Action::Volume, 1));
        row("volume too loud", R"({"action":"volume","value":1.5})", bad);
        row("volume negative", R"({"action":"volume","value":-0.1})", bad);
        row("volume true", R"({"action":"volume","value":true})", bad);
        row("volume null", R"({"action":"volume","value":null})", bad);
        row("no action", R"({"value":1})", bad);
        row("action not text", R"({"action":1})", bad);
        row("name in capitals", R"({"action":"Play"})", bad);
        row("stop is not offered", R"({"action":"stop"})", bad);
    }
    void parseControl()
    {
        QFETCH(QByteArray, params);
        QFETCH(std::optional<MediaControlRequest>, expected);
        QString error;
        const auto request = parseMediaControl(QJsonDocument::fromJson(params).object(), &error);
        QCOMPARE(request.has_value(), expected.has_value());
        QCOMPARE(error.isEmpty(), expected.has_value());
        if (request) {
            QCOMPARE(request->action, expected->action);
            QCOMPARE(request->value, expected->value);
        }
    }

    void statusBody_data()
    {
        QTest::addColumn<QString>("artUrl");
        QTest::addColumn<double>("length");
        QTest::addColumn<QStringList>("keys");
        const QStringList always{"album",   "artist", "player", "position",
                                 "running", "status", "title",  "volume"};
        QTest::newRow("web art") << "https://example.org/a.jpg" << 10.0
                                 << always + QStringList{"artUrl", "length"};
        QTest::newRow("local art is never named")
            << "file:///home/u/.cache/a.jpg" << 10.0 << always + QStringList{"length"};
        QTest::newRow("other schemes are dropped")
            << "javascript:alert(1)" << 10.0 << always + QStringList{"length"};
        QTest::newRow("length unknown") << "" << -1.0 << always;
    }
    void statusBody()
    {
        QFETCH(QString, artUrl);
        QFETCH(double, length);
        QFETCH(QStringList, keys);
        QCOMPARE(mediaStatusBody(MediaPlayerStatus()), QJsonObject({{"running", false}}));
        MediaPlayerStatus status;
        status.running = true;
        status.artUrl = artUrl;
        status.length = length;
        status.position = 1;
        status.volume = 0.5;
        QStringList got = mediaStatusBody(status).keys();
        got.sort();
        keys.sort();
        QCOMPARE(got, keys);
    }

    // Only decoded, shrunk pictures leave the PC; other files named as art send nothing.
    void localArt()
    {
        QTemporaryDir dir;
        QImage cover(1000, 500, QImage::Format_RGB32);
        cover.fill(Qt::darkCyan);
        QVERIFY(cover.save(dir.filePath("cover.png")));
        QFile secret(dir.filePath("secret.jpg"));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("password=hunter2\n") > 0);
        secret.close();

        MediaArt art;
        const QString url = art.dataUrl(QUrl::fromLocalFile(dir.filePath("cover.png")).toString());
        QVERIFY(url.startsWith("data:image/jpeg;base64,"));
        const QImage thumbnail =
            QImage::fromData(QByteArray::fromBase64(url.mid(url.indexOf(',') + 1).toLatin1()), "JPEG");
        QCOMPARE(thumbnail.size(), QSize(MediaArt::MaxSide, MediaArt::MaxSide / 2));
        QCOMPARE(art.dataUrl(QUrl::fromLocalFile(dir.filePath("secret.jpg")).toString()), QString());
        QCOMPARE(art.dataUrl(QUrl::fromLocalFile(dir.filePath("missing.png")).toString()), QString());
        QCOMPARE(art.dataUrl(dir.path()), QString()); // a folder, and no URL at that
    }

    // mpv with its MPRIS plugin: opened from the phone, paused and moved from the phone.
    void realPlayer()
    {
        const QString mpv = QStandardPaths::findExecutable("mpv");
        QString plugin;
        for (const char* candidate : {"/usr/lib/mpv-mpris/mpris.so", "/etc/mpv/scripts/mpris.so"})
            if (QFileInfo::exists(candidate))
                plugin = candidate;
        if (mpv.isEmpty() || plugin.isEmpty())
            QSKIP("mpv with its MPRIS plugin is not installed (Debian packages mpv, mpv-mpris)");

        TestContext context;
        QVERIFY(startDatabases());
        QTemporaryDir dir;
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QDir(root).mkpath("Music") && QDir(root).mkpath("Player"));
        QVERIFY(writeTone(root + "/Music/tone.wav", 60));
        const QString wrapper = root + "/Player/mpv-headless";
        {
            QFile script(wrapper);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nexec '" + mpv.toUtf8() +
                         "' --no-config --ao=null --vo=null --no-terminal "
                         "--script='" +
                         plugin.toUtf8() + "' \"$@\"\n");
        }
        QVERIFY(QFile::setPermissions(wrapper, QFile::permissions(wrapper) | QFileDevice::ExeOwner));
        QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('Music','" +
                                              root + "/Music',1)"));
        MediaService::instance()->load();
        ConfigService::instance()->setValue("audioPlayer", wrapper, QString());
        const QString previousDirectory = QDir::currentPath();

        Server server(std::make_unique<InputBackendFake>(), nullptr); // the system's shell and link
        QVERIFY(server.start(0));
        Phone phone;
        QVERIFY(phone.attach(server));
        phone.send("{\"command\":\"mediastatus\"}\n");
        QJsonObject open{{"command", "mediaopen"}};
        open.insert("params", QJsonObject{{"path", QJsonValue(root + "/Music/tone.wav")}});
        phone.send(QJsonDocument(open).toJson(QJsonDocument::Compact) + "\n");
        const QJsonObject playing = awaitStatus(phone, [](const QJsonObject& p) {
            return p.value("status").toString() == "Playing" && p.value("length").toDouble() > 59;
        });
        QDBusConnection bus = QDBusConnection::sessionBus();
        const auto stopPlayer = qScopeGuard([&] {
            // Politely, then for sure: the player belongs to this test alone.
            for (const QString& name : bus.interface()->registeredServiceNames().value())
                if (name.startsWith("org.mpris.MediaPlayer2.mpv")) {
                    const uint pid = bus.interface()->servicePid(name);
                    bus.call(QDBusMessage::createMethodCall(name, "/org/mpris/MediaPlayer2",
                                                            "org.mpris.MediaPlayer2", "Quit"));
                    if (pid > 0)
                        QProcess::execute("kill", {QString::number(pid)});
                }
            QDir::setCurrent(previousDirectory);
            ConfigService::instance()->setValue("audioPlayer", QString(), QString());
            releaseDatabases();
        });
        QVERIFY2(!playing.isEmpty(), "mpv did not report playing the file");
        QCOMPARE(playing.value("player").toString(), "mpv");
        QVERIFY(playing.value("title").toString().contains("tone"));

        const auto near = [](const char* key, double value, double tolerance = 0.5) {
            return [=](const QJsonObject& p) {
                return std::abs(p.value(key).toDouble() - value) < tolerance;
            };
        };
        const auto control = [&phone](const QByteArray& params) {
            phone.send("{\"command\":\"mediacontrol\",\"params\":" + params + "}\n");
        };
        control(R"({"action":"pause"})");
        QVERIFY(!awaitStatus(phone, [](const QJsonObject& p) {
                     return p.value("status").toString() == "Paused";
                 }).isEmpty());
        control(R"({"action":"position","value":40})");
        QVERIFY(!awaitStatus(phone, near("position", 40)).isEmpty());
        control(R"({"action":"seek","value":-15})");
        QVERIFY(!awaitStatus(phone, near("position", 25)).isEmpty());
        control(R"({"action":"volume","value":0.5})");
        QVERIFY(!awaitStatus(phone, near("volume", 0.5, 0.01)).isEmpty());
        // Read back on request, still paused where it was put.
        phone.send("{\"command\":\"mediastatus\"}\n");
        const QJsonObject last = nextStatus(phone);
        QCOMPARE(last.value("status").toString(), "Paused");
        QVERIFY(std::abs(last.value("position").toDouble() - 25) < 0.5);
    }
};

QTEST_GUILESS_MAIN(TestMediaPlayers)
#include "tst_mediaplayers.moc"
