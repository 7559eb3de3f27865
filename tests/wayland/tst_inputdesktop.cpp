#include "ProbeSession.h"
#include "support/GtkTextField.h"

#include "platform/clipboard/ClipboardMutter.h"
#include "platform/clipboard/ClipboardWlroots.h"
#include "platform/input/InputBackendMutter.h"
#include "platform/input/InputBackendPortal.h"
#include "platform/input/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

// Phone messages through the command server drive a real headless desktop, and our Wayland
// client there reports what really arrived. Built once per way in (BACKEND, DESKTOP): GNOME
// Mutter through its own remote-desktop interface ("Mutter", "GNOME"), or a desktop through its
// RemoteDesktop portal ("Portal"): KDE KWin (xdg-desktop-portal with its KDE part, which grants
// at once) or GNOME Mutter (with GNOME's part, whose dialog the script's helper answers through
// the accessibility bus).
class tst_InputDesktop : public QObject
{
    Q_OBJECT

private:
    ProbeSession m_s;
    // A second probe on the second monitor, where Mutter has one.
    ProbeSession m_right;
    QTemporaryDir m_dir;
    Server* m_server = nullptr;
    InputBackendMutter* m_mutter = nullptr;
    QDBusConnection m_bus{QString()};

    static bool isMutter() { return QLatin1String(BACKEND) == QLatin1String("Mutter"); }
    // The pointer enters a probe's surface at `wanted`, or moves there within it.
    static void landsOn(ProbeSession& on, const QString& wanted)
    {
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return on.m_events.contains("motion " + wanted) ||
                                on.m_events.contains("enter " + wanted);
                     },
                     5000),
                 qPrintable(wanted + ": " + on.m_events.join(" | ")));
        on.m_events.clear();
    }
    // Turns Mutter's monitors on and off as the display settings do: CONNECTOR:X,Y each.
    static bool layOut(const QStringList& places)
    {
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedChannels);
        helper.start(
            QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(SET_MONITORS), qEnvironmentVariable("VELMORA_TEST_MUTTER_BUS")} +
                places);
        return helper.waitForFinished(10000) && helper.exitStatus() == QProcess::NormalExit &&
               helper.exitCode() == 0;
    }
    static QRect unite(const QVector<QRect>& rects)
    {
        QRect all;
        for (const QRect& r : rects)
            all |= r;
        return all;
    }
    static InputBackendStatus* status() { return InputBackendStatus::instance(); }
    // The desktop's clipboard as Velmora reaches it: GNOME's remote-desktop session, data
    // control on KWin.
    std::unique_ptr<Clipboard> openClipboard() const
    {
        if (QLatin1String(DESKTOP) == QLatin1String("GNOME"))
            return std::make_unique<ClipboardMutter>(m_bus);
        return ClipboardWlroots::open();
    }
    // Every type on the clipboard with its bytes, as another program pasting it gets them.
    static QMap<QString, QByteArray> clipboardTypes(Clipboard& clipboard)
    {
        std::optional<ClipboardContent> result;
        clipboard.saveContent(1024 * 1024, [&result](const ClipboardContent& c) { result = c; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000) || !result->known)
            return {{QStringLiteral("(not read)"), QByteArray()}};
        QMap<QString, QByteArray> types;
        for (const auto& type : qAsConst(result->types))
            types.insert(type.first, type.second);
        return types;
    }
    static QString readClipboard(Clipboard& clipboard)
    {
        std::optional<ClipboardRead> result;
        clipboard.readText(1024 * 1024, [&result](const ClipboardRead& r) { result = r; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
            return QStringLiteral("(no answer)");
        return result->text;
    }
    // How the script's helper is to answer GNOME's dialog: accept, cancel or ignore.
    static void answerWith(const QByteArray& answer)
    {
        QFile file(qEnvironmentVariable("VELMORA_TEST_PORTAL_ANSWER"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(answer + '\n') > 0);
    }
    // The children of an object path on the bus: live sessions, below a sessions' folder.
    QStringList childrenOf(const QString& service, const QString& path) const
    {
        const QDBusMessage reply = m_bus.call(QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
            QStringLiteral("Introspect")));
        QStringList children;
        const QRegularExpression node(QStringLiteral("<node name=\"([^\"]+)\""));
        for (auto it = node.globalMatch(reply.arguments().value(0).toString()); it.hasNext();)
            children << it.next().captured(1);
        return children;
    }
    // Sessions of ours left at the portal: none, once a set-up failed. (GNOME's portal leaves
    // the Mutter session it made for a refused one unstarted until it ends; nothing of ours.)
    QString sessionsLeft() const
    {
        QString sender = m_bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return childrenOf(QStringLiteral("org.freedesktop.portal.Desktop"),
                          QStringLiteral("/org/freedesktop/portal/desktop/session/") + sender)
            .join(QLatin1Char(' '));
    }

    // GNOME's own interface, ready; the primary monitor's first probe is started already.
    std::unique_ptr<InputBackend> mutterBackend()
    {
        if (!InputBackendMutter::available(m_bus))
            return nullptr;
        InputBackendStatus::instance()->set(InputBackendKind::Mutter, InputBackendStatus::State::Ready,
                                            QStringLiteral("test"));
        auto backend = std::make_unique<InputBackendMutter>(m_bus, DesktopSurroundings::real());
        auto* mutter = backend.get();
        m_mutter = mutter;
        if (!QTest::qWaitFor([mutter] { return mutter->isReady(); }, 10000))
            return nullptr;
        // With PipeWire in the session, absolute moves go through a stream of each monitor; they
        // need not be read for Mutter to take them. Positions span all monitors together.
        if (qEnvironmentVariable("VELMORA_TEST_MUTTER_PIPEWIRE") == QLatin1String("1") &&
            mutter->streamCount() != ProbeSession::monitors().size())
            return nullptr;
        if (QRect(QPoint(), mutter->primaryScreenSize()) != unite(ProbeSession::monitors()))
            return nullptr;
        return backend;
    }
    // The desktop's portal, granted.
    std::unique_ptr<InputBackend> portalBackend()
    {
        if (!InputBackendPortal::available(m_bus))
            return nullptr;
        DesktopSurroundings surroundings = DesktopSurroundings::real();
        // Only the primary monitor: Mutter keeps a relative move that would leave every monitor
        // on the monitor it starts from, so the push into the corner ends on the pointer's own
        // monitor, which is the primary one throughout these tests.
        surroundings.screens = [] {
            return QVector<QRect>{ProbeSession::monitors().constFirst()};
        };
        surroundings.desktop = QStringLiteral(DESKTOP);
        InputBackendStatus::instance()->set(InputBackendKind::Portal,
                                            InputBackendStatus::State::WaitingForPermission, QString());
        auto backend = std::make_unique<InputBackendPortal>(
            m_bus,
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat),
            surroundings);
        auto* portal = backend.get();
        // GNOME's dialog takes a while to open and be found.
        if (!QTest::qWaitFor([portal] { return portal->isReady(); }, 30000))
            return nullptr;
        return backend;
    }

private slots:
    void initTestCase()
    {
        // Only the desktop the script started: injected input would take over a real desktop.
        const QString bus =
            qEnvironmentVariable(isMutter() ? "VELMORA_TEST_MUTTER_BUS" : "VELMORA_TEST_PORTAL_BUS");
        if (bus.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
            (!isMutter() && qEnvironmentVariable("VELMORA_TEST_PORTAL_DESKTOP") != QLatin1String(DESKTOP)))
            QSKIP("needs the headless desktop of scripts/test.d/gnome or scripts/test.d/kde");
        m_bus = QDBusConnection::connectToBus(bus, QStringLiteral("desktop"));
        QVERIFY(m_bus.isConnected());
        // A probe on the second monitor first, so that the first one, mapped last, has the
        // keyboard. (In our tries a probe mapped later, over the first, got no pointer events.)
        const QVector<QRect> monitors = ProbeSession::monitors();
        if (isMutter() && monitors.size() > 1) {
            m_right.m_via = &m_s.m_phone;
            QVERIFY(m_right.startProbe(monitors.at(1).topLeft()));
        }
        // The probe reads a paste only a while after its key, as a busy application does: the
        // paste must wait for that read (GNOME copies every new clipboard text at once by
        // itself, and that copy is not the paste), and the user's clipboard come back after it.
        QVERIFY(m_s.startProbe(QPoint(), {QStringLiteral("--slow-paste"), QStringLiteral("200")}));
        std::unique_ptr<InputBackend> backend = isMutter() ? mutterBackend() : portalBackend();
        QVERIFY(backend != nullptr);
        m_server = new Server(std::move(backend), this);
        m_server->setClipboard(openClipboard(), [] { return false; });
        QVERIFY(m_server->start(0) && m_s.m_phone.attach(*m_server));
        // The pointer enters the fullscreen surface with the first move.
        m_s.send(ProbeSession::absolute(640, 360));
        QTRY_VERIFY2_WITH_TIMEOUT(!m_s.m_events.filter(QRegularExpression("^(enter|motion) ")).isEmpty(),
                                  qPrintable(m_s.m_events.join(QLatin1String(" | "))), 5000);
        qInfo().noquote() << "probe:" << m_s.m_events.join(QLatin1String(" | "));
        // The compositors zoom or fade a new window in (on Mutter a move to 100, 200 landed on
        // 97, 199).
        QVERIFY2(m_s.waitUntilMovesLand(), qPrintable(m_s.m_events.join(QLatin1String(" | "))));
    }

    void cleanupTestCase()
    {
        delete m_server;
        m_server = nullptr;
    }

    // Through a stream absolute moves go straight there; without one they are found from the
    // bottom-right corner, and the probe sees only where the pointer ends up. KWin's fake input
    // has no wheel steps: a notch arrives as the distance a real one scrolls.
    void pointer_data()
    {
        ProbeSession::addPointerRows(QLatin1String(DESKTOP) == QLatin1String("KDE")
                                         ? QStringLiteral("axis 0 -15")
                                         : QStringLiteral("discrete 0 -1"));
    }
    void pointer()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QStringList, expected);
        m_s.checkPointer(messages, expected);
    }

    void smoothScroll() { m_s.checkSmoothScroll(); }

    void keyCombination_data() { ProbeSession::addKeyRows(); }
    void keyCombination()
    {
        QFETCH(QByteArray, keycodes);
        QFETCH(QString, expected);
        m_s.checkKeys(keycodes, expected);
    }

    // Absolute moves land on the monitor under the point, and relative ones cross over.
    void secondMonitor()
    {
        const QVector<QRect> monitors = ProbeSession::monitors();
        if (!isMutter() || monitors.size() < 2)
            QSKIP("GNOME's own interface on a desktop of several monitors only");
        if (qEnvironmentVariable("VELMORA_TEST_MUTTER_PIPEWIRE") != QLatin1String("1"))
            QSKIP("without PipeWire absolute moves are relative, found from a corner of one monitor");
        const QRect left = monitors.at(0), right = monitors.at(1);
        QVERIFY2(m_right.waitUntilMovesLand(right.topLeft()), qPrintable(m_right.m_events.join(" | ")));
        m_s.m_events.clear();
        m_right.m_events.clear();
        m_s.send(ProbeSession::absolute(right.x() + 100, 300));
        landsOn(m_right, "100 300");
        // The far corner of the right monitor, which is the taller one.
        m_s.send(ProbeSession::absolute(right.right(), right.bottom()));
        landsOn(m_right, QStringLiteral("%1 %2").arg(right.width() - 1).arg(right.height() - 1));
        // Below the shorter monitor there is no screen: the nearest point of it.
        m_s.m_events.clear();
        if (left.height() < right.height()) {
            m_s.send(ProbeSession::absolute(100, right.bottom()));
            landsOn(m_s, QStringLiteral("100 %1").arg(left.height() - 1));
        }
        // Across the edge, relatively.
        m_s.send(ProbeSession::absolute(left.right() - 10, 100));
        landsOn(m_s, QStringLiteral("%1 100").arg(left.width() - 11));
        m_right.m_events.clear();
        m_s.send(R"({"command":"mousemove","params":{"dx":30,"dy":5}})");
        landsOn(m_right, "19 105");
        m_s.send(R"({"command":"mousemove","params":{"dx":-30,"dy":-5}})");
        landsOn(m_s, QStringLiteral("%1 100").arg(left.width() - 11));
        // Back on the left monitor for the tests after this one.
        m_s.send(ProbeSession::absolute(640, 360));
        landsOn(m_s, "640 360");
    }

    // The second monitor turned off and on again: a new session with a stream per monitor
    // follows each time by itself, and absolute moves land right.
    void followsMonitorChanges()
    {
        const QVector<QRect> monitors = ProbeSession::monitors();
        if (!isMutter() || monitors.size() < 2 ||
            qEnvironmentVariable("VELMORA_TEST_MUTTER_PIPEWIRE") != QLatin1String("1"))
            QSKIP("GNOME's own interface with streams on a desktop of several monitors only");
        // Mutter would move the right probe onto the left monitor, over the left one.
        m_right.m_probe.kill();
        m_right.m_probe.waitForFinished();
        QVERIFY(layOut({"Meta-0:0,0"}));
        QTRY_COMPARE_WITH_TIMEOUT(m_mutter->primaryScreenSize(), monitors.at(0).size(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_mutter->isReady(), 10000);
        QCOMPARE(m_mutter->streamCount(), 1);
        m_s.m_events.clear();
        m_s.send(ProbeSession::absolute(monitors.at(0).right(), monitors.at(0).bottom()));
        landsOn(m_s, QStringLiteral("%1 %2").arg(monitors.at(0).right()).arg(monitors.at(0).bottom()));

        // Mutter names its virtual monitors Meta-0, Meta-1, ...
        QVERIFY(layOut(
            {"Meta-0:0,0", QStringLiteral("Meta-1:%1,%2").arg(monitors.at(1).x()).arg(monitors.at(1).y())}));
        QTRY_COMPARE_WITH_TIMEOUT(m_mutter->streamCount(), 2, 10000);
        QCOMPARE(QRect(QPoint(), m_mutter->primaryScreenSize()), unite(monitors));
        m_s.send(ProbeSession::absolute(640, 360));
        landsOn(m_s, QStringLiteral("640 360"));
    }

    void typesText()
    {
        m_s.m_events.clear();
        // Mutter and the portals type a keysym only where a key of the current layout has it: on
        // US ö, 世, 界 and 😀 are pasted through the clipboard, on Russian and US (the scripts'
        // second pass) every letter too, in order. The user copied a picture with a text (as a
        // browser copying an image does): both are there again afterwards, byte for byte.
        std::unique_ptr<Clipboard> user = openClipboard();
        const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(4000, '\0') + "\xff end";
        const QMap<QString, QByteArray> copied{{QStringLiteral("text/plain;charset=utf-8"), "the user's own"},
                                               {QStringLiteral("image/png"), picture}};
        ClipboardContent content;
        content.known = true;
        for (auto type = copied.cbegin(); type != copied.cend(); ++type)
            content.types.append({type.key(), type.value()});
        QVERIFY(user->restoreContent(content));
        QTRY_COMPARE_WITH_TIMEOUT(readClipboard(*user), QStringLiteral("the user's own"), 5000);
        const QString text = QString::fromUtf8("Hello, wörld 世界 😀\n");
        m_s.send(ProbeSession::text(text));
        QTRY_COMPARE_WITH_TIMEOUT(m_s.typed(), text, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(clipboardTypes(*user), copied, 5000);

        QVERIFY(user->setText(QStringLiteral("the user's own")));
        QTRY_COMPARE_WITH_TIMEOUT(readClipboard(*user), QStringLiteral("the user's own"), 5000);

        // 200 characters, runs of the layout's and of others taking turns.
        QString mixed;
        for (int i = 0; mixed.size() < 200; ++i) {
            const int run = 1 + i % 7;
            for (int j = 0; j < run && mixed.size() < 200; ++j)
                mixed += i % 2 == 0 ? QChar(u'a' + (i + j) % 26)
                                    : QChar(i % 4 == 1 ? 0x4e00 + i * 7 + j : 0xe0 + j);
        }
        m_s.m_events.clear();
        m_s.send(ProbeSession::text(mixed));
        QTRY_COMPARE_WITH_TIMEOUT(m_s.typed(), mixed, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(readClipboard(*user), QStringLiteral("the user's own"), 5000);
    }

    // A real GTK text field on the keyboard layout of the scripts' second pass: every character
    // arrives in order, those the current layout lacks pasted on Shift+Insert as GTK reads it.
    void typesIntoGtk()
    {
        if (qEnvironmentVariableIsEmpty("VELMORA_TEST_LAYOUT"))
            QSKIP("runs in the scripts' pass on another keyboard layout");
        if (!GtkTextField::available())
            QSKIP("needs GTK's Python binding");
        // The field takes the keyboard from the probe, which goes.
        m_s.m_probe.kill();
        m_s.m_probe.waitForFinished();
        GtkTextField field(QStringLiteral("wayland"));
        QTRY_VERIFY_WITH_TIMEOUT(field.isReady(), 20000);
        // Keys reach the field once it has the focus: a first character (on every layout's keys)
        // shows when; one sent before may still come, hence any number of them ahead of the text.
        for (int attempt = 0; attempt < 40; ++attempt) {
            m_s.send(R"({"command":"keyinput","params":{"text":"."}})");
            if (QTest::qWaitFor([&field] { return !field.text().isEmpty(); }, 250))
                break;
        }
        QVERIFY(!field.text().isEmpty());
        const QString text = QString::fromUtf8("Hello, wörld 世界 😀\n") + GtkTextField::mixedText();
        m_s.send(ProbeSession::text(text));
        const QRegularExpression typed(QStringLiteral("^\\.+") + QRegularExpression::escape(text) +
                                       QLatin1Char('$'));
        QTRY_VERIFY2_WITH_TIMEOUT(typed.match(field.text()).hasMatch(), qPrintable(field.text()), 30000);
    }

    // GNOME's dialog cancelled, then left unanswered past our patience: each time a clear
    // state, no session left anywhere (also after a late answer), and asking again works.
    void theDialogCancelledOrUnanswered()
    {
        if (isMutter() || QLatin1String(DESKTOP) != QLatin1String("GNOME"))
            QSKIP("only GNOME's portal asks");
        delete m_server; // its session ends
        m_server = nullptr;
        QTRY_COMPARE_WITH_TIMEOUT(sessionsLeft(), QString(), 5000);
        answerWith("cancel");
        status()->set(InputBackendKind::Portal, InputBackendStatus::State::WaitingForPermission, QString());
        DesktopSurroundings surroundings = DesktopSurroundings::real();
        surroundings.desktop = QStringLiteral(DESKTOP);
        InputBackendPortal portal(
            m_bus,
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("dialog.ini")), QSettings::IniFormat),
            surroundings);
        QTRY_COMPARE_WITH_TIMEOUT(status()->state(), InputBackendStatus::State::Refused, 30000);
        QCOMPARE(status()->detail(), QStringLiteral("the user declined"));
        QVERIFY(status()->canAskAgain());
        QTRY_COMPARE_WITH_TIMEOUT(sessionsLeft(), QString(), 5000);

        answerWith("accept");
        status()->askAgain();
        QTRY_VERIFY_WITH_TIMEOUT(portal.isReady(), 30000);
        QCOMPARE(status()->state(), InputBackendStatus::State::Ready);

        // Unanswered: the dialog is withdrawn when our patience ends.
        answerWith("ignore");
        portal.setAnswerTimeout(8000);
        status()->askAgain();
        QVERIFY(!portal.isReady());
        QTRY_COMPARE_WITH_TIMEOUT(status()->state(), InputBackendStatus::State::Refused, 20000);
        QCOMPARE(status()->detail(), QStringLiteral("the desktop's question went unanswered"));
        QTRY_COMPARE_WITH_TIMEOUT(sessionsLeft(), QString(), 5000);
        // The helper would now accept a dialog still up: none is, and no session appears.
        answerWith("accept");
        QTest::qWait(3000);
        QCOMPARE(sessionsLeft(), QString());
        QVERIFY(!portal.isReady());
        QCOMPARE(status()->state(), InputBackendStatus::State::Refused);

        // Our usual patience again: on a busy machine the dialog and its answer may take longer
        // than the short one above.
        portal.setAnswerTimeout(InputBackendPortal::AnswerTimeoutMs);
        status()->askAgain();
        QTRY_VERIFY_WITH_TIMEOUT(portal.isReady(), 30000);
    }
};

QTEST_GUILESS_MAIN(tst_InputDesktop)
#include "tst_inputdesktop.moc"
