#include "ProbeSession.h"

#include "platform/InputBackendPortal.h"
#include "platform/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>
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
        QVERIFY(InputBackendPortal::available(connection));
        QVERIFY(m_s.startProbe());
        DesktopSurroundings surroundings = DesktopSurroundings::real();
        surroundings.screens = [] {
            return QVector<QRect>{QRect(0, 0, 1280, 720)};
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
        QTRY_VERIFY_WITH_TIMEOUT(!m_s.m_events.filter(QRegularExpression("^(enter|motion) ")).isEmpty(),
                                 5000);
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
};

QTEST_GUILESS_MAIN(tst_InputDesktopPortal)
#include "tst_inputdesktopportal.moc"
