#include "data/DataTestSupport.h"

#include "platform/input/InputBackendStatus.h"
#include "ui/SettingView.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using State = InputBackendStatus::State;
Q_DECLARE_METATYPE(InputBackendKind)
Q_DECLARE_METATYPE(InputBackendStatus::State)

// The Settings page tells which input backend runs and whether it may inject, and lets the
// user ask the desktop again where it asks at all.
class tst_InputStatusPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestContext> m_context;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_context = std::make_unique<TestContext>();
    }

    void status_data()
    {
        QTest::addColumn<InputBackendKind>("kind");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("askAgain");
        QTest::newRow("x11") << InputBackendKind::XTest << State::Ready << "X11 (XTest): ready" << false;
        QTest::newRow("sway") << InputBackendKind::Wlroots << State::Ready
                              << "Wayland virtual pointer and keyboard: ready" << false;
        QTest::newRow("portal asking")
            << InputBackendKind::Portal << State::WaitingForPermission
            << "Desktop remote-control portal: waiting for your permission" << true;
        QTest::newRow("portal refused")
            << InputBackendKind::Portal << State::Refused << "Desktop remote-control portal: refused" << true;
        QTest::newRow("portal granted")
            << InputBackendKind::Portal << State::Ready << "Desktop remote-control portal: ready" << false;
        QTest::newRow("gnome") << InputBackendKind::Mutter << State::Ready << "GNOME remote control: ready"
                               << false;
        QTest::newRow("gnome session ended") << InputBackendKind::Mutter << State::Unavailable
                                             << "GNOME remote control: not available" << true;
        QTest::newRow("nothing") << InputBackendKind::LogOnly << State::Unavailable
                                 << "None: phone input is only logged: not available" << false;
    }
    void status()
    {
        QFETCH(InputBackendKind, kind);
        QFETCH(State, state);
        QFETCH(QString, text);
        QFETCH(bool, askAgain);
        auto* status = InputBackendStatus::instance();
        status->set(InputBackendKind::XTest, State::Unavailable, QStringLiteral("before"));
        SettingView page;
        page.show();
        // The page follows changes while it is open.
        status->set(kind, state, QStringLiteral("why"));
        QCOMPARE(page.findChild<QLabel*>("lbInputStatus")->text(), text);
        QCOMPARE(page.findChild<QLabel*>("lbInputReason")->text(), QStringLiteral("why")); // and why
        auto* button = page.findChild<QPushButton*>("btnAskAgain");
        QCOMPARE(button->isVisible(), askAgain);
        if (askAgain) {
            QSignalSpy asked(status, &InputBackendStatus::askAgainRequested);
            button->click();
            QCOMPARE(asked.count(), 1);
        }
    }
};

QTEST_MAIN(tst_InputStatusPage)
#include "tst_inputstatuspage.moc"
