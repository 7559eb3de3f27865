#include "app/DemoApp.h"
#include "pairing/PairingToken.h"
#include "platform/files/PrivateFiles.h"
#include "support/TerminalQr.h"
#include "ui/AboutView.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

namespace {

int modeOf(const QString& path)
{
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

} // namespace

// The pairing token: 128 random bits kept in the settings store, and the About page's code
// that carries it to the phone.
class tst_PairingToken : public QObject
{
    Q_OBJECT
    QTemporaryDir m_settingsDir;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        ::umask(022); // the usual one, which leaves new files readable by everyone
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        ApplicationBase::setInstance(new DemoApp());
    }

    void secretsStayPrivate()
    {
        // Found too wide, tightened; made private, kept so across the settings store's rewrite
        // (a fresh file renamed over it); what the owner alone could not do stays as it was.
        const QString folder = m_settingsDir.path() + QStringLiteral("/private/Data");
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/settings.ini");
        QVERIFY(makeFilePrivate(file) && modeOf(file) == 0600);
        QSettings store(file, QSettings::IniFormat);
        store.setValue(QStringLiteral("secret"), 1);
        store.sync();
        QCOMPARE(modeOf(file), 0600);
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther) &&
                makeFilePrivate(file) && modeOf(file) == 0600);
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup) && makeFilePrivate(file) &&
                modeOf(file) == 0400);
        QVERIFY(makeFolderPrivate(m_settingsDir.path() + QStringLiteral("/private")) &&
                modeOf(m_settingsDir.path() + QStringLiteral("/private")) == 0700);
        QVERIFY(makeFolderPrivate(folder + QStringLiteral("/new/deeper")) &&
                modeOf(folder + QStringLiteral("/new/deeper")) == 0700);
    }

    void tokenIsRandomStoredAndRegenerable()
    {
        const QString some = PairingToken::generate();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(some).hasMatch());
        QVERIFY(some != PairingToken::generate());

        QSettings store(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
        store.setValue(QStringLiteral("pairing/token"), "ABC"); // hand-edited or cut short: replaced
        store.sync();
        const QString token = PairingToken().token();
        store.sync(); // written at once, and for this user's eyes only
        QVERIFY(PairingToken::isWellFormed(token) && store.value(QStringLiteral("pairing/token")) == token);
        QCOMPARE(modeOf(store.fileName()), 0600);
        PairingToken restarted;
        QSignalSpy changed(&restarted, &PairingToken::tokenChanged);
        QCOMPARE(restarted.token(), token);
        const QString fresh = restarted.regenerate();
        store.sync();
        QVERIFY(fresh != token && changed.count() == 1 &&
                store.value(QStringLiteral("pairing/token")) == fresh);
        QVERIFY(restarted.matches(fresh));
        for (const QString& wrong :
             QStringList{token, QString(), fresh.left(31), fresh + QLatin1Char('0'), fresh.toUpper(),
                         QString(fresh).replace(31, 1, fresh.endsWith(QLatin1Char('0')) ? "1" : "0"),
                         QString(32, QChar(0x00e9))}) // 32 units, but more bytes
            QVERIFY2(!restarted.matches(wrong), qPrintable(wrong));
    }

    void aboutPageCodeOpensTheWebClientWithTheToken()
    {
        AboutView view;
        view.resize(1100, 700);
        auto shownUrl = [&view] {
            return decodeQr(view.findChild<QLabel*>(QStringLiteral("lbWebQRCode"))->grab().toImage());
        };
        auto* box = view.findChild<QComboBox*>(QStringLiteral("cbConnAddress"));
        box->addItem(QStringLiteral("10.0.0.5 (Wi-Fi)"), QStringLiteral("10.0.0.5"));
        box->setCurrentIndex(box->count() - 1);
        const QString old = PairingToken::shared()->token();
        QCOMPARE(shownUrl(), QStringLiteral("http://10.0.0.5:6888/#token=") + old);

        view.findChild<QPushButton*>(QStringLiteral("btnRegenerateToken"))->click();
        QVERIFY(PairingToken::shared()->token() != old);
        QCOMPARE(shownUrl(),
                 QStringLiteral("http://10.0.0.5:6888/#token=") + PairingToken::shared()->token());
    }
};

QTEST_MAIN(tst_PairingToken)
#include "tst_pairingtoken.moc"
