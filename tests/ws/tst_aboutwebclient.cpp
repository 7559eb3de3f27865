#include "app/DemoApp.h"
#include "pairing/PairingToken.h"
#include "ui/AboutView.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <QZXing.h>

// The About page's second code: the web client's address with the pairing token.
class tst_AboutWebClient : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_settingsDir;

    static QString shownUrl(AboutView& view)
    {
        QZXing decoder;
        decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
        QLabel* label = view.findChild<QLabel*>(QStringLiteral("lbWebQRCode"));
        return decoder.decodeImage(label->grab().toImage());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        ApplicationBase::setInstance(new DemoApp());
    }

    void codeFollowsAddressAndToken()
    {
        AboutView view;
        view.resize(1100, 700);
        const QString token = PairingToken::shared()->token();
        QCOMPARE(QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"))
                     .value(QStringLiteral("pairing/token"))
                     .toString(),
                 token);
        auto* box = view.findChild<QComboBox*>(QStringLiteral("cbConnAddress"));
        box->addItem(QStringLiteral("10.0.0.5 (Wi-Fi)"), QStringLiteral("10.0.0.5"));
        box->setCurrentIndex(box->count() - 1);
        QCOMPARE(shownUrl(view), QStringLiteral("http://10.0.0.5:6888/#token=") + token);

        // A new code revokes the old one and is shown at once.
        QSignalSpy changed(PairingToken::shared(), &PairingToken::tokenChanged);
        view.findChild<QPushButton*>(QStringLiteral("btnRegenerateToken"))->click();
        QCOMPARE(changed.count(), 1);
        const QString fresh = PairingToken::shared()->token();
        QVERIFY(fresh != token);
        QCOMPARE(shownUrl(view), QStringLiteral("http://10.0.0.5:6888/#token=") + fresh);
        QCOMPARE(QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"))
                     .value(QStringLiteral("pairing/token"))
                     .toString(),
                 fresh);
    }
};

QTEST_MAIN(tst_AboutWebClient)
#include "tst_aboutwebclient.moc"
