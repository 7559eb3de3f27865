#include "ProbeSession.h"

#include "platform/InputBackendPortal.h"
#include "platform/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

// Phone messages through the command server drive a real headless desktop through its
// RemoteDesktop portal: KDE KWin (xdg-desktop-portal with its KDE part, which grants at once) or
// GNOME Mutter (with GNOME's part, whose dialog the script's helper accepts through the
// accessibility bus), as PORTAL_DESKTOP says. Our Wayland client there reports what arrived.
class tst_InputDesktopPortal : public QObject
{
    Q_OBJECT

private:
    ProbeSession m_s;
    QTemporaryDir m_dir;
    Server* m_server = nullptr;
    QDBusConnection m_bus{QString()};

    static InputBackendStatus* status() { return InputBackendStatus::instance(); }
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

private slots:
    void initTestCase()
    {
        // Only the desktop the script started: injected input would take over a real desktop.
        const QString bus = qEnvironmentVariable("VELMORA_TEST_PORTAL_BUS");
        if (bus.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
            qEnvironmentVariable("VELMORA_TEST_PORTAL_DESKTOP") != QLatin1String(PORTAL_DESKTOP))
            QSKIP("needs the headless desktop of scripts/test.d/gnome or scripts/test.d/kde");
        const QDBusConnection connection = QDBusConnection::connectToBus(bus, QStringLiteral("desktop"));
        QVERIFY(connection.isConnected());
        m_bus = connection;
        QVERIFY(InputBackendPortal::available(connection));
        QVERIFY(m_s.startProbe());
        DesktopSurroundings surroundings = DesktopSurroundings::real();
        // Only the primary monitor: Mutter keeps a relative move that would leave every monitor
        // on the monitor it starts from, so the push into the corner ends on the pointer's own
        // monitor, which is the primary one throughout these tests.
        surroundings.screens = [] {
            return QVector<QRect>{ProbeSession::monitors().constFirst()};
        };
        surroundings.desktop = QStringLiteral(PORTAL_DESKTOP);
        InputBackendStatus::instance()->set(InputBackendKind::Portal,
                                            InputBackendStatus::State::WaitingForPermission, QString());
        auto backend = std::make_unique<InputBackendPortal>(
            connection,
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat),
            surroundings);
        auto* portal = backend.get();
        // GNOME's dialog takes a while to open and be found.
        QTRY_VERIFY_WITH_TIMEOUT(portal->isReady(), 30000);
        m_server = new Server(std::move(backend), this);
        QVERIFY(m_server->start(0) && m_s.m_phone.attach(*m_server));
        m_s.send(ProbeSession::absolute(640, 360));
        QTRY_VERIFY2_WITH_TIMEOUT(!m_s.m_events.filter(QRegularExpression("^(enter|motion) ")).isEmpty(),
                                  qPrintable(m_s.m_events.join(QLatin1String(" | "))), 5000);
        qInfo().noquote() << "probe:" << m_s.m_events.join(QLatin1String(" | "));
        // The compositors zoom or fade a new window in.
        QVERIFY2(m_s.waitUntilMovesLand(), qPrintable(m_s.m_events.join(QLatin1String(" | "))));
    }

    void cleanupTestCase()
    {
        delete m_server;
        m_server = nullptr;
    }

    // KWin's fake input has no wheel steps: a notch arrives as the distance a real one scrolls.
    void pointer_data()
    {
        ProbeSession::addPointerRows(QLatin1String(PORTAL_DESKTOP) == QLatin1String("KDE")
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

    void typesText()
    {
        m_s.m_events.clear();
        m_s.send(ProbeSession::text(QString::fromUtf8("Hello, wörld 世界 😀\n")));
        QTRY_VERIFY_WITH_TIMEOUT(m_s.typed().endsWith(QLatin1Char('\n')), 5000);
        QTest::qWait(100);
        // As Mutter's own interface, the portals type a keysym only where a key of the layout
        // (US here) has it, so ö, 世, 界 and 😀 are dropped; everything else arrives in order.
        QCOMPARE(m_s.typed(), QStringLiteral("Hello, wrld  \n"));
    }

    // GNOME's dialog cancelled, then left unanswered past our patience: each time a clear
    // state, no session left anywhere (also after a late answer), and asking again works.
    void theDialogCancelledOrUnanswered()
    {
        if (QLatin1String(PORTAL_DESKTOP) != QLatin1String("GNOME"))
            QSKIP("KDE's portal asks nothing");
        delete m_server; // its session ends
        m_server = nullptr;
        QTRY_COMPARE_WITH_TIMEOUT(sessionsLeft(), QString(), 5000);
        answerWith("cancel");
        status()->set(InputBackendKind::Portal, InputBackendStatus::State::WaitingForPermission, QString());
        DesktopSurroundings surroundings = DesktopSurroundings::real();
        surroundings.desktop = QStringLiteral(PORTAL_DESKTOP);
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

        status()->askAgain();
        QTRY_VERIFY_WITH_TIMEOUT(portal.isReady(), 30000);
    }
};

QTEST_GUILESS_MAIN(tst_InputDesktopPortal)
#include "tst_inputdesktopportal.moc"
