#include "app/DemoApp.h"
#include "pairing/PairingToken.h"
#include "ui/AboutView.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <QZXing.h>

// The About page's second code: the web client's address with the pairing token.
class tst_AboutWebClient : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_settingsDir;

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
        auto shownUrl = [&view] {
            QZXing decoder;
            decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
            return decoder.decodeImage(
                view.findChild<QLabel*>(QStringLiteral("lbWebQRCode"))->grab().toImage());
        };
        auto* box = view.findChild<QComboBox*>(QStringLiteral("cbConnAddress"));
        box->addItem(QStringLiteral("10.0.0.5 (Wi-Fi)"), QStringLiteral("10.0.0.5"));
        box->setCurrentIndex(box->count() - 1);
        const QString old = PairingToken::shared()->token();
        QCOMPARE(shownUrl(), QStringLiteral("http://10.0.0.5:6888/#token=") + old);

        view.findChild<QPushButton*>(QStringLiteral("btnRegenerateToken"))->click();
        const QString fresh = PairingToken::shared()->token();
        QVERIFY(fresh != old);
        QCOMPARE(shownUrl(), QStringLiteral("http://10.0.0.5:6888/#token=") + fresh);
    }
};

QTEST_MAIN(tst_AboutWebClient)
#include "tst_aboutwebclient.moc"
