// GNOME's remote-desktop clipboard against a stand-in for Mutter on a private bus, for what a
// real Mutter does not readily show: reads in turn (Mutter refuses them in parallel), its answers
// for an empty clipboard and for our own text, and a session the desktop ends.
#include "platform/clipboard/ClipboardMutter.h"
#include "support/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

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
    bool sessionOwns = false;
    bool refuseSelection = false;
    QStringList ownTypes;
    int reads = 0;
    bool reading = false; // a read's pipe is still open
    bool parallel = false;
    QList<uint> writesDone;
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
    // The pipe of the last transfer, read to its end.
    void collect()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_transferRead, buffer, sizeof buffer)) > 0)
            received.append(buffer, int(n));
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
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return {};
        // A type the owner lacks ends at once, empty.
        if (otherTypes.contains(type) &&
            ::write(fds[1], otherBytes.constData(), size_t(otherBytes.size())) != otherBytes.size())
            qWarning("fake Mutter: the pipe took less");
        // The pipe ends a moment later, as a program's answer would.
        reading = true;
        QTimer::singleShot(20, this, [this, fd = fds[1]] {
            ::close(fd);
            reading = false;
        });
        const QDBusUnixFileDescriptor answer(fds[0]);
        ::close(fds[0]);
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
    void SelectionWriteDone(uint serial, bool success)
    {
        if (success)
            writesDone << serial;
    }

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
};

QTEST_GUILESS_MAIN(TestClipboardMutter)
#include "tst_clipboardmutter.moc"
