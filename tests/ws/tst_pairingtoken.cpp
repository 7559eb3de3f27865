#include "pairing/PairingToken.h"

#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class tst_PairingToken : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_settingsDir;

    static QSettings store() { return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    }
    void init() { store().clear(); }

    void generatedTokensAre128RandomBits()
    {
        QSet<QString> seen;
        for (int i = 0; i < 200; ++i) {
            const QString token = PairingToken::generate();
            QVERIFY2(PairingToken::isWellFormed(token), qPrintable(token));
            seen.insert(token);
        }
        QCOMPARE(seen.size(), 200);
    }

    void wellFormedMeansLowercaseHex()
    {
        QVERIFY(PairingToken::isWellFormed(QStringLiteral("0123456789abcdef0123456789abcdef")));
        QVERIFY(!PairingToken::isWellFormed(QStringLiteral("0123456789ABCDEF0123456789abcdef")));
        QVERIFY(!PairingToken::isWellFormed(QStringLiteral("0123456789abcdef0123456789abcde")));
        QVERIFY(!PairingToken::isWellFormed(QStringLiteral("0123456789abcdef0123456789abcdef0")));
        QVERIFY(!PairingToken::isWellFormed(QStringLiteral("0123456789abcdef0123456789abcdeg")));
        QVERIFY(!PairingToken::isWellFormed(QString()));
    }

    void tokenIsCreatedOnceAndKept()
    {
        PairingToken first;
        const QString token = first.token();
        QCOMPARE(first.token(), token);
        // Stored at once, where another instance (a restart) finds it.
        QCOMPARE(store().value(QStringLiteral("pairing/token")).toString(), token);
        PairingToken second;
        QCOMPARE(second.token(), token);
    }

    void malformedStoredTokenIsReplaced_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("too short") << QVariant(QStringLiteral("abc"));
        QTest::newRow("upper case") << QVariant(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
        QTest::newRow("not text") << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")});
    }
    void malformedStoredTokenIsReplaced()
    {
        QFETCH(QVariant, stored);
        store().setValue(QStringLiteral("pairing/token"), stored);
        PairingToken token;
        const QString value = token.token();
        QVERIFY(PairingToken::isWellFormed(value));
        QCOMPARE(store().value(QStringLiteral("pairing/token")).toString(), value);
    }

    void regeneratingRevokesTheOldToken()
    {
        PairingToken token;
        const QString old = token.token();
        QSignalSpy changed(&token, &PairingToken::tokenChanged);
        const QString fresh = token.regenerate();
        QVERIFY(fresh != old);
        QCOMPARE(token.token(), fresh);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), fresh);
        QCOMPARE(store().value(QStringLiteral("pairing/token")).toString(), fresh);
        QVERIFY(!token.matches(old));
        QVERIFY(token.matches(fresh));
    }

    void onlyTheExactTokenMatches()
    {
        PairingToken token;
        const QString value = token.token();
        QVERIFY(token.matches(value));
        QVERIFY(!token.matches(QString()));
        QVERIFY(!token.matches(value.left(31)));
        QVERIFY(!token.matches(value + QLatin1Char('0')));
        QVERIFY(!token.matches(value.toUpper()));
        QString lastDiffers = value;
        lastDiffers[31] = value.at(31) == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
        QVERIFY(!token.matches(lastDiffers));
        // Same length in UTF-16 units but more bytes in UTF-8 must not be cut to fit.
        QVERIFY(!token.matches(QString(32, QChar(0x00e9))));
    }

    void webClientUrlCarriesTheTokenInTheFragment()
    {
        const QString token = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QString url = webClientUrl(QStringLiteral("192.168.1.9"), kWebClientPort, token);
        QCOMPARE(url, QStringLiteral("http://192.168.1.9:6888/#token=") + token);
        const QUrl parsed(url);
        QVERIFY(parsed.query().isEmpty()); // never sent to the server with the page request
        QCOMPARE(parsed.fragment(), QStringLiteral("token=") + token);
        QCOMPARE(QUrl(webClientUrl(QString(), 6888, token)).host(), QStringLiteral("localhost"));
    }
};

QTEST_GUILESS_MAIN(tst_PairingToken)
#include "tst_pairingtoken.moc"
