#include "remote/RemoteTestSupport.h"
#include "support/GtkTextField.h"
#include "support/TerminalSink.h"

#include "platform/input/InputBackendWlroots.h"
#include "remote/InputSimulator.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Phone messages through the command server drive a wlroots compositor's virtual pointer and
// keyboard; a client of the compositor reports what really arrived.
class tst_InputWayland : public QObject
{
    Q_OBJECT

private:
    Phone m_phone;
    Server* m_server = nullptr;
    QProcess m_probe;
    QStringList m_events; // lines of the probe
    QSize m_size;

    InputBackendWlroots* backend() const
    {
        return static_cast<InputBackendWlroots*>(m_server->inputSimulator()->backend());
    }
    void send(const QByteArray& message) { m_phone.send(message + '\n'); }
    void moveTo(int x, int y) { send(absolute(x, y)); }
    // The probe's lines since the last call that start with one of `prefixes`.
    QStringList take(const QStringList& prefixes)
    {
        QStringList picked;
        for (const QString& line : qAsConst(m_events)) {
            for (const QString& prefix : prefixes) {
                if (line.startsWith(prefix + QLatin1Char(' ')) || line == prefix) {
                    picked << line;
                    break;
                }
            }
        }
        m_events.clear();
        return picked;
    }
    bool waitFor(const QString& line)
    {
        return QTest::qWaitFor([&] { return m_events.contains(line); }, 5000);
    }
    static QByteArray absolute(int x, int y)
    {
        return R"({"command":"mousemove","params":{"absolute":true,"dx":)" + QByteArray::number(x) +
               ",\"dy\":" + QByteArray::number(y) + "}}";
    }
    // The compositor at the other end of the Wayland socket.
    static pid_t compositorPid()
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = qgetenv("WAYLAND_DISPLAY");
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        ucred peer{};
        socklen_t size = sizeof peer;
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
        ::close(fd);
        return ok ? peer.pid : -1;
    }
    void typeText(const QString& text)
    {
        send(R"({"command":"keyinput","params":)" +
             QJsonDocument(QJsonObject{{"text", text}}).toJson(QJsonDocument::Compact) + "}");
    }
    // Keys reach a new window once it has the focus: dots are typed until `received` shows one.
    bool takesKeys(const std::function<QByteArray()>& received)
    {
        for (int attempt = 0; attempt < 40; ++attempt) {
            typeText(QStringLiteral("."));
            if (QTest::qWaitFor([&] { return !received().isEmpty(); }, 250))
                return true;
        }
        return false;
    }
    // A fullscreen surface would keep the focus from the windows to come.
    void dismissProbe()
    {
        m_probe.kill();
        m_probe.waitForFinished();
    }
    // The greeting and runs of the layout's characters and others taking turns, then, with
    // `startsOver`, more distinct characters than one typing keymap holds.
    static QString everyKindOfText(bool startsOver = true)
    {
        QString text =
            QString::fromUtf8("Hello, w\u00f6rld \u4e16\u754c \U0001F600\n") + GtkTextField::mixedText();
        for (int i = 0; startsOver && i < 300; ++i)
            text += QChar(0x4e00 + i * 17);
        return text;
    }
    // Where `got` first differs from `expected`, with a little of both from there.
    static QByteArray firstDifference(const QByteArray& got, const QByteArray& expected)
    {
        int at = 0;
        while (at < got.size() && at < expected.size() && got[at] == expected[at])
            ++at;
        return "byte " + QByteArray::number(at) + " of " + QByteArray::number(expected.size()) + ": got \"" +
               got.mid(at, 24) + "\" (" + QByteArray::number(got.size()) + " bytes), expected \"" +
               expected.mid(at, 24) + '"';
    }
    QString typed() const
    {
        QByteArray bytes;
        for (const QString& line : m_events) {
            if (line.startsWith(QLatin1String("text ")))
                bytes += QByteArray::fromHex(line.mid(5).toLatin1());
        }
        return QString::fromUtf8(bytes);
    }

private slots:
    void initTestCase()
    {
        // Only the compositor the script started: a fullscreen client and injected keys would
        // take over the desktop of whoever runs the tests.
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
            qEnvironmentVariableIsEmpty("VELMORA_TEST_SWAY"))
            QSKIP("needs the headless sway of scripts/test.d/wayland");
        // A user with two layouts, the first without Latin letters: key combinations must still
        // find C (the seat has no keyboard of its own, so this is the layout we get).
        qputenv("XKB_DEFAULT_LAYOUT", "ru,us");
        auto backend = InputBackendWlroots::open();
        QVERIFY2(backend != nullptr, "the compositor offers no virtual pointer and keyboard");
        m_size = backend->primaryScreenSize();
        m_server = new Server(std::move(backend), this);
        QVERIFY(m_server->start(0) && m_phone.attach(*m_server));

        // Started after the virtual devices exist, so the seat already has pointer and keyboard.
        connect(&m_probe, &QProcess::readyReadStandardOutput, this, [this] {
            while (m_probe.canReadLine())
                m_events << QString::fromUtf8(m_probe.readLine()).trimmed();
        });
        m_probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_probe.start(QStringLiteral(WAYLAND_PROBE), QStringList());
        QVERIFY(m_probe.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!m_events.filter(QStringLiteral("ready")).isEmpty(), 10000);
        QTRY_VERIFY(m_events.contains(QStringLiteral("focus")));
        moveTo(m_size.width() / 2, m_size.height() / 2);
        // The pointer enters the surface and then reports the move itself.
        QVERIFY(waitFor(QStringLiteral("motion %1 %2").arg(m_size.width() / 2).arg(m_size.height() / 2)));
        m_events.clear();
    }

    void cleanupTestCase()
    {
        if (m_probe.state() != QProcess::NotRunning) {
            m_probe.kill();
            m_probe.waitForFinished();
        }
    }

    void pointer_data()
    {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QStringList>("expected");
        const int right = m_size.width() - 1, bottom = m_size.height() - 1;
        QTest::newRow("absolute corners and middle")
            << QByteArrayList{absolute(0, 0), absolute(right, bottom), absolute(321, 123)}
            << QStringList{"motion 0 0", QStringLiteral("motion %1 %2").arg(right).arg(bottom),
                           "motion 321 123"};
        QTest::newRow("relative move")
            << QByteArrayList{absolute(100, 100), R"({"command":"mousemove","params":{"dx":25,"dy":-7}})"}
            << QStringList{"motion 100 100", "motion 125 93"};
        QTest::newRow("click") << QByteArrayList{R"({"command":"mouseclick"})"}
                               << QStringList{"button 272 1", "button 272 0"};
        QTest::newRow("double click")
            << QByteArrayList{R"({"command":"mouseclick","params":{"double":true}})"}
            << QStringList{"button 272 1", "button 272 0", "button 272 1", "button 272 0"};
        QTest::newRow("right press and release")
            << QByteArrayList{R"({"command":"mousedown","params":{"button":"right"}})",
                              R"({"command":"mouseup","params":{"button":"right"}})"}
            << QStringList{"button 273 1", "button 273 0"};
        // A notch away from the user scrolls up: one step of the negative vertical axis.
        QTest::newRow("wheel notch up") << QByteArrayList{R"({"command":"mousewheel","params":{"amount":1}})"}
                                        << QStringList{"discrete 0 -1", "axis 0 -15"};
        QTest::newRow("two notches down")
            << QByteArrayList{R"({"command":"mousewheel","params":{"amount":-2}})"}
            << QStringList{"discrete 0 2", "axis 0 30"};
        // Fingers: the distance as it came, a step where a notch completes, a stop at the lift.
        QTest::newRow("finger scroll up")
            << QByteArrayList{R"({"command":"mousewheel","params":{"fine":60}})",
                              R"({"command":"mousewheel","params":{"fine":90,"end":true}})"}
            << QStringList{"axis 0 -7.5", "discrete 0 -1", "axis 0 -11.25", "stop 0"};
    }
    void pointer()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QStringList, expected);
        m_events.clear();
        for (const QByteArray& m : messages)
            send(m);
        const QStringList prefixes{"motion", "button", "axis", "discrete", "stop"};
        QStringList got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < expected.size() && timer.elapsed() < 5000) {
            QTest::qWait(10);
            got += take(prefixes);
        }
        QTest::qWait(50); // nothing more may follow
        got += take(prefixes);
        QCOMPARE(got.join(QLatin1String(" | ")), expected.join(QLatin1String(" | ")));
    }

    void typesUnicodeThenRestoresTheLayout()
    {
        m_events.clear();
        const QString text = QString::fromUtf8("Hello, wörld 世界 😀\n");
        QJsonObject params{{"text", text}};
        send(R"({"command":"keyinput","params":)" + QJsonDocument(params).toJson(QJsonDocument::Compact) +
             "}");
        QTRY_COMPARE(typed(), text);
        QTest::qWait(50);
        QCOMPARE(typed(), text); // and nothing else
        QVERIFY(backend()->typingLayoutActive());
        QTRY_VERIFY_WITH_TIMEOUT(!backend()->typingLayoutActive(), 5000);
    }

    void keyCombination()
    {
        // Ctrl+C right after typing: the user's layout comes back first, with a Control key
        // whose modifier holds while C goes down and up.
        send(R"({"command":"keyinput","params":{"text":"x"}})");
        QVERIFY(waitFor(QStringLiteral("text 78")));
        m_events.clear();
        send(R"({"command":"keyinput","params":{"keycodes":[17,67]}})");
        QTRY_VERIFY(!m_events.filter(QRegularExpression(QStringLiteral("^key Control_L 0 "))).isEmpty());
        QCOMPARE(take({"key"}),
                 (QStringList{"key Control_L 1 0", "key c 1 4", "key c 0 4", "key Control_L 0 4"}));
        QVERIFY(!backend()->typingLayoutActive());
    }

    void aCompositorThatStopsReadingHoldsNothingUp()
    {
        const pid_t compositor = compositorPid();
        QVERIFY(compositor > 0);
        QVERIFY(::kill(compositor, SIGSTOP) == 0);
        // Far more moves than the socket and libwayland's buffer hold: none may wait for the
        // compositor, nor end the connection.
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20000; ++i)
            backend()->send({InputRecord::mouse(InputRecord::MouseMove, i % 2 == 0 ? 1 : -1, 0)});
        backend()->send({InputRecord::mouse(InputRecord::MouseMove | InputRecord::Absolute, 0, 0)});
        const qint64 took = timer.elapsed();
        const bool congested = backend()->congested();
        QVERIFY(::kill(compositor, SIGCONT) == 0);
        QVERIFY2(took < 2000, qPrintable(QString::number(took)));
        QVERIFY(congested);
        m_events.clear();
        // Input resumes: what was already in the socket goes out, then where the stall's moves
        // lead in one move, not thousands of stale ones (on a busy machine, their replay kept
        // the probe from the last one for longer than the wait), and new moves arrive.
        const auto arrived = [this](const QString& at) {
            return m_events.contains("motion " + at) || m_events.contains("enter " + at);
        };
        QVERIFY2(QTest::qWaitFor([&] { return arrived(QStringLiteral("0 0")); }, 30000),
                 qPrintable(m_events.mid(m_events.size() - 20).join(QLatin1String(" | "))));
        const int replayed = int(std::max(m_events.indexOf(QStringLiteral("motion 0 0")),
                                          m_events.indexOf(QStringLiteral("enter 0 0"))));
        QVERIFY2(replayed < 2000, qPrintable(QString::number(replayed)));
        QTRY_VERIFY_WITH_TIMEOUT(!backend()->congested(), 10000);
        moveTo(222, 111);
        // The probe's pointer may be new (the seat's devices went and came back), and a new
        // one learns the position by an enter. The moves already in the socket go first: a
        // busy compositor takes seconds for them.
        QVERIFY2(QTest::qWaitFor([&] { return arrived(QStringLiteral("222 111")); }, 30000),
                 qPrintable(m_events.mid(m_events.size() - 20).join(QLatin1String(" | "))));
    }

    // Last, since the probe goes: a real GTK text field takes every character exactly and in
    // order, a long run of distinct ones included, and the clipboard is left alone.
    void typesEveryCharacterIntoGtk()
    {
        if (!GtkTextField::available() || QStandardPaths::findExecutable(QStringLiteral("wl-copy")).isEmpty())
            QSKIP("needs GTK's Python binding and wl-clipboard");
        dismissProbe();
        // wl-copy leaves a child serving the clipboard: it must not hold on to our output.
        QProcess copy;
        copy.setStandardOutputFile(QProcess::nullDevice());
        copy.setStandardErrorFile(QProcess::nullDevice());
        copy.start(QStringLiteral("wl-copy"), {QStringLiteral("the user's own")});
        QVERIFY(copy.waitForFinished(5000) && copy.exitCode() == 0);
        GtkTextField field(QStringLiteral("wayland"));
        QTRY_VERIFY_WITH_TIMEOUT(field.isReady(), 20000);
        const QString text = everyKindOfText();
        // Then the field is emptied (select all, delete), after anything typed before.
        QVERIFY(takesKeys([&field] { return field.text().toUtf8(); }));
        send(R"({"command":"keyinput","params":{"keycodes":[17,65]}})");
        send(R"({"command":"keyinput","params":{"text":"\b"}})");
        QTRY_COMPARE_WITH_TIMEOUT(field.text(), QString(), 5000);
        typeText(text);
        QTRY_COMPARE_WITH_TIMEOUT(field.text(), text, 20000);
        QProcess paste;
        paste.start(QStringLiteral("wl-paste"), {QStringLiteral("-n")});
        QVERIFY(paste.waitForFinished(5000));
        QCOMPARE(paste.readAllStandardOutput(), QByteArray("the user's own"));
    }

    // The same texts into a Wayland terminal, and into X clients under XWayland, which learn
    // each keymap of ours through XWayland's own update while our keys follow it unpaced. X
    // clients get the text that one typing keymap holds: when it starts over, they are given
    // only a time to catch up, which a client on a loaded machine may need more than.
    void typesEveryCharacterIntoTerminalsAndXClients_data()
    {
        QTest::addColumn<QString>("client");
        QTest::newRow("foot") << QStringLiteral("foot");
        QTest::newRow("xterm under XWayland") << QStringLiteral("xterm");
        QTest::newRow("GTK under XWayland") << QStringLiteral("gtk");
    }
    void typesEveryCharacterIntoTerminalsAndXClients()
    {
        QFETCH(QString, client);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (client != QLatin1String("foot")) {
            // sway's XWayland (scripts/lib.sh), not whatever X display the tests run beside.
            const QString display = qEnvironmentVariable("VELMORA_SWAY_X_DISPLAY");
            if (display.isEmpty())
                QSKIP("needs the headless sway's XWayland (xwayland and xhost)");
            env.insert(QStringLiteral("DISPLAY"), display);
        }
        const auto terminal =
            client == QLatin1String("foot") ? TerminalSink::Foot : TerminalSink::XTermManaged;
        if (client == QLatin1String("gtk") ? !GtkTextField::available() : !TerminalSink::available(terminal))
            QSKIP("needs foot, xterm and GTK's Python binding");
        dismissProbe();
        std::unique_ptr<GtkTextField> field;
        std::unique_ptr<TerminalSink> sink;
        std::function<QByteArray()> received;
        if (client == QLatin1String("gtk")) {
            field = std::make_unique<GtkTextField>(QStringLiteral("x11"), QPoint(300, 500), env);
            QTRY_VERIFY_WITH_TIMEOUT(field->isReady(), 20000);
            received = [&field] {
                return field->text().toUtf8();
            };
        } else {
            sink = std::make_unique<TerminalSink>(terminal, env);
            QVERIFY(sink->start());
            received = [&sink] {
                return sink->contents();
            };
        }
        QVERIFY(takesKeys(received));
        if (sink) {
            sink->clear();
        } else {
            send(R"({"command":"keyinput","params":{"keycodes":[17,65]}})");
            send(R"({"command":"keyinput","params":{"text":"\b"}})");
            QTRY_VERIFY_WITH_TIMEOUT(received().isEmpty(), 5000);
        }
        const QString text = everyKindOfText(client == QLatin1String("foot"));
        const QByteArray expected = sink ? TerminalSink::expectedBytes(text) : text.toUtf8();
        typeText(text);
        // A lost character never lets the size reach the text's; a wrong one shows below.
        const bool arrived = QTest::qWaitFor([&] { return received().size() >= expected.size(); }, 20000);
        QVERIFY2(arrived && received() == expected, firstDifference(received(), expected).constData());
    }
};

QTEST_GUILESS_MAIN(tst_InputWayland)
#include "tst_inputwayland.moc"
