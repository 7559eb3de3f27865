#include "app/DemoApp.h"
#include "pairing/ConnectionQrCode.h"
#include "pairing/ServerPortProvider.h"
#include "platform/network/FirewallProbeFake.h"
#include "support/TerminalQr.h"
#include "ui/AboutView.h"

#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString decode(const QPixmap& pixmap)
{
    return decodeQr(pixmap.toImage());
}

struct PortWindow final : QWidget, ServerPortProvider
{
    int port = 0;
    int serverPort() const override { return port; }
};

} // namespace

class TestAboutView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // The page creates the pairing token in the settings store: never the user's own.
        static QTemporaryDir settingsDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        ApplicationBase::setInstance(new DemoApp());
    }

    void codeFollowsTheSelection_data()
    {
        QTest::addColumn<int>("reported"); // by the window above the page; -1: no such window
        QTest::addColumn<int>("advertised");
        QTest::newRow("no window") << -1 << 8888;
        QTest::newRow("window's port") << 9123 << 9123;
        QTest::newRow("nonsense port") << 0 << 8888;
    }
    void codeFollowsTheSelection()
    {
        QFETCH(int, reported);
        QFETCH(int, advertised);
        QWidget plain;
        PortWindow window;
        window.port = reported;
        // The page sits in a stacked-widget page, not directly in the window.
        auto* view = new AboutView(new QWidget(reported < 0 ? &plain : &window));
        auto* label = view->findChild<QLabel*>("lbQRCode");
        auto* box = view->findChild<QComboBox*>("cbConnAddress");
        const auto shown = [label] {
            return decode(label->pixmap(Qt::ReturnByValue));
        };

        const QString preferred = view->preferredConnectionAddress(view->collectConnectionAddresses());
        QCOMPARE(shown(), connectionPayload(preferred, advertised));

        box->addItem("10.0.0.5 (Wi-Fi)", "10.0.0.5");
        box->addItem("192.168.1.9 (Ethernet)", "192.168.1.9");
        for (const QString address : {"10.0.0.5", "192.168.1.9"}) {
            box->setCurrentIndex(box->findData(address));
            QCOMPARE(shown(), connectionPayload(address, advertised));
        }
        // The label stretches the square code; what is painted must still scan.
        view->resize(1100, 700);
        QCOMPARE(decode(label->grab()), connectionPayload("192.168.1.9", advertised));

        // Nothing selected: the machine is asked again rather than the old code kept.
        box->clear();
        QCOMPARE(shown(), connectionPayload(preferred, advertised));
    }

    void firewallHint()
    {
        AboutView view;
        auto probe = std::make_unique<FirewallProbeFake>();
        FirewallProbeFake* fake = probe.get();
        FirewallFacts blocked;
        blocked.ufwEnabled = true;
        blocked.ufwInputPolicy = "DROP";
        blocked.ufwRulesReadable = true;
        fake->setFacts(blocked);
        view.setFirewallProbe(std::move(probe));
        auto* frame = view.findChild<QFrame*>("frFirewall");
        auto* command = view.findChild<QLineEdit*>("edFirewallCommand");
        QVERIFY(!frame->isHidden());
        QCOMPARE(command->text(), QStringLiteral("sudo ufw allow Velmora"));
        QVERIFY(command->isReadOnly());
        view.findChild<QPushButton*>("btnCopyFirewallCommand")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("sudo ufw allow Velmora"));

        // Opened meanwhile: showing the page again asks again, and the hint goes.
        blocked.ufwRules = "### tuple ### allow tcp 6888,8888 0.0.0.0/0 any 0.0.0.0/0 Velmora - in\n";
        fake->setFacts(blocked);
        view.load(nullptr);
        QCOMPARE(fake->probes(), 2);
        QVERIFY(frame->isHidden());
    }
};

QTEST_MAIN(TestAboutView)
#include "tst_aboutview.moc"
