// GNOME's remote-desktop clipboard against a stand-in for Mutter on a private bus, for what a
// real Mutter does not readily show: reads in turn (Mutter refuses them in parallel), its answers
// for an empty clipboard and for our own text, a session the desktop ends, and every type of a
// clipboard saved and put back within bounds.
#include "platform/clipboard/ClipboardMutter.h"
#include "platform/clipboard/ClipboardSaver.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>

namespace {

const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");

} // namespace

// One session's clipboard, as Mutter answers it. The clipboard's owner is another program
// (`otherTypes`, `otherBytes`), the session, or nobody.
class FakeSession final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.RemoteDesktop.Session")
public:
    FakeSession(const QDBusConnection& bus, const QString& path)
        : m_bus(bus)
        , m_path(path)
    {
    }

    QStringList otherTypes{QStringLiteral("text/plain;charset=utf-8")};
    QByteArray otherBytes = "from the PC";
    QMap<QString, QByteArray> otherData; // a type's own bytes, where not `otherBytes`
    QString stalledType;                 // a type whose pipe the owner never ends
    bool sessionOwns = false;
    bool refuseSelection = false;
    QStringList ownTypes;
    int reads = 0;
    bool reading = false; // a read's pipe is still open
    bool parallel = false;
    QList<uint> writesDone;
    QList<uint> writesFailed;
    QByteArray received; // what the session wrote for a transfer

    // Tells the session of a new owner (none: `types` null) as Mutter does ("mime-types" as a
    // structure).
    void announce(const std::optional<QStringList>& types, bool isSession = false)
    {
        QVariantMap options;
        if (types) {
            QDBusArgument list;
            list.beginStructure();
            list << *types;
            list.endStructure();
            options.insert(QStringLiteral("mime-types"), QVariant::fromValue(list));
            options.insert(QStringLiteral("session-is-owner"), isSession);
        }
        emitSignal(QStringLiteral("SelectionOwnerChanged"), {options});
    }
    void transfer(const QString& type, uint serial)
    {
        emitSignal(QStringLiteral("SelectionTransfer"), {type, serial});
    }
    void close() { emitSignal(QStringLiteral("Closed"), {}); }
    QString path() const { return m_path; }
    bool hasTransfer() const { return m_transferRead >= 0; }
    // The pipe of the last transfer, read to its end.
    void collect()
    {
        received.clear();
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_transferRead, buffer, sizeof buffer)) > 0)
            received.append(buffer, int(n));
        ::close(m_transferRead);
        m_transferRead = -1;
    }
    // Takes what the last transfer's pipe holds now, without waiting for more (the writer is in
    // this process).
    void drain()
    {
        fcntl(m_transferRead, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_transferRead, buffer, sizeof buffer)) > 0)
            received.append(buffer, int(n));
    }
    ~FakeSession() override
    {
        for (int fd : {m_transferRead, m_stalled}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

public slots:
    void EnableClipboard(const QVariantMap&)
    {
        if (!otherTypes.isEmpty())
            announce(otherTypes);
    }
    void SetSelection(const QVariantMap& options)
    {
        if (refuseSelection) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("Selection refused"));
            return;
        }
        ownTypes = options.value(QStringLiteral("mime-types")).toStringList();
        sessionOwns = true;
        announce(ownTypes, true);
    }
    void DisableClipboard() {}
    void Stop() {}
    void Sync() {} // its answer follows every signal sent before
    QDBusUnixFileDescriptor SelectionRead(const QString& type)
    {
        ++reads;
        if (sessionOwns) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("Tried to read own selection"));
            return {};
        }
        if (otherTypes.isEmpty()) {
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"),
                           QStringLiteral("No selection owner available"));
            return {};
        }
        parallel = parallel || reading;
        // A socket for a pipe: a reader that gives up early must not end the test by SIGPIPE.
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return {};
        // A type the owner lacks ends at once, empty. The bytes go out as the reader takes them.
        const QByteArray bytes = otherTypes.contains(type) ? otherData.value(type, otherBytes) : QByteArray();
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        const QDBusUnixFileDescriptor answer(fds[0]);
        ::close(fds[0]);
        if (type == stalledType) {
            m_stalled = fds[1];
            return answer;
        }
        reading = true;
        auto written = std::make_shared<qint64>(0);
        auto* pump = new QTimer(this);
        connect(pump, &QTimer::timeout, this, [this, pump, written, bytes, fd = fds[1]] {
            const ssize_t n =
                ::send(fd, bytes.constData() + *written, size_t(bytes.size() - *written), MSG_NOSIGNAL);
            if (n > 0)
                *written += n;
            // The pipe ends only after a while, as a program's answer would.
            if (*written < bytes.size() && (n > 0 || errno == EAGAIN))
                return;
            ::close(fd);
            reading = false;
            pump->deleteLater();
        });
        pump->start(20);
        return answer;
    }
    QDBusUnixFileDescriptor SelectionWrite(uint)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return {};
        m_transferRead = fds[0];
        const QDBusUnixFileDescriptor answer(fds[1]);
        ::close(fds[1]);
        return answer;
    }
    void SelectionWriteDone(uint serial, bool success) { (success ? writesDone : writesFailed) << serial; }

private:
    void emitSignal(const QString& name, const QVariantList& args)
    {
        QDBusMessage signal = QDBusMessage::createSignal(m_path, kSessionInterface, name);
        signal.setArguments(args);
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    QString m_path;
    int m_transferRead = -1;
    int m_stalled = -1;
};

class FakeRemoteDesktop final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.RemoteDesktop")
public:
    explicit FakeRemoteDesktop(const QDBusConnection& bus)
        : m_bus(bus)
    {
    }
    std::vector<std::unique_ptr<FakeSession>> sessions;
    bool newSessionsFindItEmpty = false;
    bool refuseSessions = false;

public slots:
    QDBusObjectPath CreateSession()
    {
        if (refuseSessions) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("No sessions now"));
            return {};
        }
        const QString path =
            QStringLiteral("/org/gnome/Mutter/RemoteDesktop/Session/u%1").arg(sessions.size() + 1);
        sessions.push_back(std::make_unique<FakeSession>(m_bus, path));
        if (newSessionsFindItEmpty)
            sessions.back()->otherTypes.clear();
        m_bus.registerObject(path, sessions.back().get(), QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
};

class TestClipboardMutter : public QObject
{
    Q_OBJECT
    PrivateBus m_daemon;
    int m_connections = 0;
    QStringList m_names;
    std::unique_ptr<FakeRemoteDesktop> m_mutter;
    std::unique_ptr<ClipboardMutter> m_clipboard;

    QDBusConnection connect(const QString& role)
    {
        m_names << role + QString::number(++m_connections);
        return QDBusConnection::connectToBus(m_daemon.address(), m_names.constLast());
    }
    FakeSession& session() { return *m_mutter->sessions.back(); }
    ClipboardRead read()
    {
        std::optional<ClipboardRead> result;
        m_clipboard->readText(1024, [&result](const ClipboardRead& r) { result = r; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
            return ClipboardRead{ClipboardRead::Result::Unavailable, QStringLiteral("(no answer)")};
        return *result;
    }

    ClipboardContent save(qint64 maxBytes = 1024 * 1024)
    {
        std::optional<ClipboardContent> result;
        m_clipboard->saveContent(maxBytes, [&result](const ClipboardContent& c) { result = c; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 20000))
            return ClipboardContent();
        return *result;
    }
    // What Mutter gets for `type` when a program pastes it.
    QByteArray pasted(const QString& type)
    {
        static uint serial = 100;
        ++serial;
        session().transfer(type, serial);
        const auto answered = [this] {
            return session().writesDone.contains(serial) || session().writesFailed.contains(serial);
        };
        if (!QTest::qWaitFor(answered, 10000) || !session().writesDone.contains(serial))
            return session().writesFailed.contains(serial) ? "(refused)" : "(no answer)";
        session().collect();
        return session().received;
    }
    // Tells of the owner's new types, and waits until the clipboard has heard (the answer to a
    // read comes after the news).
    void announceOther()
    {
        session().announce(session().otherTypes);
        const QDBusMessage sync = QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Mutter.RemoteDesktop"), m_mutter->sessions.back()->path(),
            kSessionInterface, QStringLiteral("Sync"));
        QDBusPendingCall answer = QDBusConnection(m_names.at(1)).asyncCall(sync);
        QTRY_VERIFY(answer.isFinished());
        QCoreApplication::processEvents();
    }
    // Another program's picture and text; the picture's bytes are anything but text.
    void offerPicture(const QByteArray& picture)
    {
        session().otherTypes = QStringList{QStringLiteral("image/png"), QStringLiteral("UTF8_STRING"),
                                           QStringLiteral("text/plain;charset=utf-8")};
        session().otherData = {
            {QStringLiteral("image/png"), picture},
            {QStringLiteral("UTF8_STRING"), QString::fromUtf8("wörld").toUtf8()},
            {QStringLiteral("text/plain;charset=utf-8"), QString::fromUtf8("wörld").toUtf8()}};
        announceOther();
    }

private slots:
    void initTestCase()
    {
        if (PrivateBus::daemon().isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        QString error;
        QVERIFY2(m_daemon.start(&error), qPrintable(error));
    }

    void init()
    {
        QDBusConnection mutterBus = connect(QStringLiteral("mutter"));
        m_mutter = std::make_unique<FakeRemoteDesktop>(mutterBus);
        QVERIFY(mutterBus.registerObject(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), m_mutter.get(),
                                         QDBusConnection::ExportAllSlots));
        QVERIFY(mutterBus.registerService(QStringLiteral("org.gnome.Mutter.RemoteDesktop")));
        const QDBusConnection app = connect(QStringLiteral("app"));
        QVERIFY(ClipboardMutter::available(app));
        m_clipboard = std::make_unique<ClipboardMutter>(app);
        QTRY_VERIFY(m_clipboard->isReady());
    }

    void cleanup()
    {
        m_clipboard.reset();
        QDBusConnection(m_names.value(0)).unregisterService(QStringLiteral("org.gnome.Mutter.RemoteDesktop"));
        for (const QString& name : qAsConst(m_names))
            QDBusConnection::disconnectFromBus(name);
        m_names.clear();
        m_mutter.reset();
    }

    // Another program's text, ours (which Mutter will not pass back), a picture, and nothing.
    void readsWhatTheClipboardHolds()
    {
        ClipboardRead r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text, QStringLiteral("from the PC"));
        session().otherBytes = QByteArray(1025, 'x');
        QCOMPARE(read().result, ClipboardRead::Result::TooLarge);

        QVERIFY(m_clipboard->setText(QStringLiteral("from the phone")));
        QTRY_VERIFY(session().sessionOwns);
        QVERIFY(session().ownTypes.contains(QStringLiteral("text/plain;charset=utf-8")));
        // News of another owner that Mutter has not acted on yet: it still refuses our own text.
        session().announce(QStringList{QStringLiteral("text/plain")});
        QCOMPARE(read().text, QStringLiteral("from the phone"));

        session().sessionOwns = false;
        session().otherTypes = QStringList{QStringLiteral("image/png")};
        session().announce(session().otherTypes);
        QTRY_COMPARE(read().result, ClipboardRead::Result::NotText);
        // Asked before it heard of the picture, the clipboard rightly read the text it knew of;
        // the answers that follow need no read, whether a try comes before or after the news.
        const int reads = session().reads;
        // An owner offering nothing, and no owner at all, are an empty clipboard.
        session().otherTypes.clear();
        const auto empty = [this] {
            const ClipboardRead e = read();
            return e.result == ClipboardRead::Result::Text && e.text.isEmpty();
        };
        session().announce(QStringList());
        QTRY_VERIFY(empty());
        session().announce(QStringList{QStringLiteral("image/png")});
        QTRY_COMPARE(read().result, ClipboardRead::Result::NotText);
        session().announce(std::nullopt);
        QTRY_VERIFY(empty());
        QCOMPARE(session().reads, reads);
    }

    // Mutter asks for our text for a program pasting it.
    void sendsOurTextWhenAsked()
    {
        QVERIFY(m_clipboard->setText(QString::fromUtf8("pasted é")));
        QTRY_VERIFY(session().sessionOwns);
        session().transfer(QStringLiteral("text/plain;charset=utf-8"), 7);
        QTRY_COMPARE(session().writesDone, QList<uint>{7});
        session().collect();
        QCOMPARE(session().received, QString::fromUtf8("pasted é").toUtf8());
    }

    // The phone hears "ok" only for a text Mutter took: not for one it refused, nor for one
    // whose session could not be opened.
    void putTextIsAnsweredByMutter()
    {
        std::optional<bool> taken;
        const auto put = [this, &taken](const QString& text) {
            taken.reset();
            m_clipboard->putText(text, [&taken](bool t) { taken = t; });
            return QTest::qWaitFor([&taken] { return taken.has_value(); }, 10000) && *taken;
        };
        QVERIFY(put(QStringLiteral("taken")));
        QVERIFY(session().sessionOwns);

        session().refuseSelection = true;
        QVERIFY(!put(QStringLiteral("refused")));
        QVERIFY(taken.has_value());

        session().close();
        QTRY_VERIFY(!m_clipboard->isReady());
        m_mutter->refuseSessions = true;
        QVERIFY(!put(QStringLiteral("no session")));
        QVERIFY(taken.has_value());
        m_mutter->refuseSessions = false;
        QVERIFY(put(QStringLiteral("again")));
    }

    // Several requests at once reach Mutter one after the other; too many wait not at all.
    void readsTakeTurns()
    {
        int answered = 0;
        int unavailable = 0;
        const int asked = ClipboardMutter::MaxWaitingReads + 2; // one running, the last refused
        for (int i = 0; i < asked; ++i) {
            m_clipboard->readText(1024, [&](const ClipboardRead& r) {
                ++answered;
                if (r.result == ClipboardRead::Result::Unavailable)
                    ++unavailable;
                else
                    QCOMPARE(r.text, QStringLiteral("from the PC"));
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(answered, asked, 10000);
        QCOMPARE(unavailable, 1);
        QVERIFY(!session().parallel);
    }

    // A session the desktop ends gives way to a new one at the next request.
    void sessionEndedByTheDesktop()
    {
        session().close();
        QTRY_VERIFY(!m_clipboard->isReady());
        // Nobody owns the clipboard now, which Mutter tells a new session only when it reads.
        m_mutter->newSessionsFindItEmpty = true;
        const ClipboardRead r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text, QString());
        QCOMPARE(m_mutter->sessions.size(), size_t(2));
        QCOMPARE(session().reads, 1);
        QVERIFY(m_clipboard->setText(QStringLiteral("again")));
        QTRY_VERIFY(session().sessionOwns);
    }

    // A pasted text counts as taken once all of it went out, not when asked for: a program still
    // reading when the next text replaces it loses the paste (GTK drops its read).
    void takenOnlyOnceAllIsWritten()
    {
        const QString text(100000, QChar(0x4e16)); // far beyond what a pipe holds
        bool taken = false;
        QVERIFY(m_clipboard->offerTransient(text, [&taken] { taken = true; }));
        QTRY_VERIFY(session().ownTypes.contains(QLatin1String(ClipboardSecretHintType)));
        session().received.clear();
        session().transfer(QStringLiteral("text/plain;charset=utf-8"), 7);
        QTRY_VERIFY(session().hasTransfer());
        QTRY_VERIFY((session().drain(), !session().received.isEmpty()));
        QVERIFY(!taken);
        const QByteArray bytes = text.toUtf8();
        QTRY_VERIFY((session().drain(), session().received.size() == bytes.size()));
        QTRY_VERIFY(taken);
        QCOMPARE(session().received, bytes);
        QTRY_COMPARE(session().writesDone, QList<uint>{7});
    }

    // A picture and a text are saved with their types, pasted over, and put back byte for byte:
    // Mutter is offered every type and gets each one's own bytes, not the secret mark.
    void everyTypeIsSavedAndPutBack()
    {
        QByteArray picture("\x89PNG\r\n\x1a\n", 8);
        picture += QByteArray(3000, '\0') + QByteArray(100, '\xff');
        offerPicture(picture);
        const ClipboardContent saved = save();
        QVERIFY(saved.known);
        const QVector<QPair<QString, QByteArray>> expected{
            {QStringLiteral("text/plain;charset=utf-8"), QString::fromUtf8("wörld").toUtf8()},
            {QStringLiteral("image/png"), picture},
            {QStringLiteral("UTF8_STRING"), QString::fromUtf8("wörld").toUtf8()}};
        QCOMPARE(saved.types, expected);

        bool taken = false;
        QVERIFY(m_clipboard->offerTransient(QString::fromUtf8("世界"), [&taken] { taken = true; }));
        QTRY_VERIFY(session().ownTypes.contains(QLatin1String(ClipboardSecretHintType)));
        QCOMPARE(pasted(QStringLiteral("text/plain;charset=utf-8")), QString::fromUtf8("世界").toUtf8());
        QVERIFY(taken);

        QVERIFY(m_clipboard->restoreContent(saved));
        QTRY_COMPARE(session().ownTypes,
                     (QStringList{QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("image/png"),
                                  QStringLiteral("UTF8_STRING")}));
        for (const auto& type : expected)
            QCOMPARE(pasted(type.first), type.second);
        QCOMPARE(pasted(QLatin1String(ClipboardSecretHintType)), QByteArray("(refused)"));
        // Saved again while it is ours: the same content, without asking Mutter.
        const int reads = session().reads;
        QCOMPARE(save(), saved);
        QCOMPARE(read().text, QString::fromUtf8("wörld"));
        QCOMPARE(session().reads, reads);

        // A picture alone is put back as it was, and read as no text.
        const ClipboardContent pictureOnly{true, {{QStringLiteral("image/png"), picture}}, {}};
        QVERIFY(m_clipboard->restoreContent(pictureOnly));
        QTRY_COMPARE(session().ownTypes, QStringList{QStringLiteral("image/png")});
        QCOMPARE(read().result, ClipboardRead::Result::NotText);
        QCOMPARE(save(), pictureOnly);

        // An empty clipboard comes back as an empty text, the nearest Mutter has.
        session().sessionOwns = false;
        session().otherTypes.clear();
        announceOther();
        const ClipboardContent empty = save();
        QVERIFY(empty.known);
        QVERIFY(empty.types.isEmpty());
        QVERIFY(m_clipboard->restoreContent(empty));
        QTRY_VERIFY(session().ownTypes.contains(QStringLiteral("text/plain;charset=utf-8")));
        QCOMPARE(pasted(QStringLiteral("text/plain;charset=utf-8")), QByteArray());
    }

    // What does not fit is left out and logged by type, never by content; the rest is kept. A
    // clipboard of which nothing fits cannot be put back, so it is not known.
    void typesBeyondTheBoundsAreSkipped()
    {
        LogCapture log;
        offerPicture(QByteArray(600, 'p'));
        session().otherTypes << QStringLiteral("application/x-secret-big");
        session().otherData.insert(QStringLiteral("application/x-secret-big"), QByteArray(2000, 'S'));
        announceOther();
        ClipboardContent saved = save(1024);
        QVERIFY(saved.known);
        QStringList types;
        for (const auto& type : qAsConst(saved.types))
            types << type.first;
        QCOMPARE(types, (QStringList{QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("image/png"),
                                     QStringLiteral("UTF8_STRING")}));
        QCOMPARE(log.count(QStringLiteral("application/x-secret-big")), 1);
        QCOMPARE(log.count(QStringLiteral("SSSS")) + log.count(QStringLiteral("wörld")), 0);

        // Endless types: the first ones are read, the rest named in a count.
        QStringList many;
        for (int i = 0; i < 100; ++i)
            many << QStringLiteral("application/x-kind-%1").arg(i);
        session().otherTypes = many;
        session().otherData.clear();
        announceOther();
        saved = save();
        QVERIFY(saved.known);
        QCOMPARE(saved.types.size(), ClipboardSaveBounds().types);
        QCOMPARE(saved.types.constLast().first, many.at(ClipboardSaveBounds().types - 1));

        session().otherTypes = QStringList{QStringLiteral("image/png")};
        session().otherData = {{QStringLiteral("image/png"), QByteArray(2000, 'p')}};
        announceOther();
        QVERIFY(!save(1024).known);
        QVERIFY(!m_clipboard->restoreContent(ClipboardContent()));
    }

    // An owner that never ends a type costs the save its deadline and the types after it, not
    // those before; a new
    // owner during a save leaves nothing known (the types read could be of two contents).
    void ownersThatStallOrChange()
    {
        offerPicture("picture");
        session().stalledType = QStringLiteral("image/png");
        ClipboardContent saved = save();
        QVERIFY(saved.known);
        QCOMPARE(saved.types,
                 (QVector<QPair<QString, QByteArray>>{
                     {QStringLiteral("text/plain;charset=utf-8"), QString::fromUtf8("wörld").toUtf8()}}));

        session().stalledType.clear();
        std::optional<ClipboardContent> result;
        m_clipboard->saveContent(1024, [&result](const ClipboardContent& c) { result = c; });
        session().announce(QStringList{QStringLiteral("text/plain")});
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        QVERIFY(!result->known);
        // The session's end answers a save under way.
        result.reset();
        m_clipboard->saveContent(1024, [&result](const ClipboardContent& c) { result = c; });
        session().close();
        QTRY_VERIFY(result.has_value());
        QVERIFY(!result->known);
    }
};

QTEST_GUILESS_MAIN(TestClipboardMutter)
#include "tst_clipboardmutter.moc"
