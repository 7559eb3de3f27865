#include "pairing/PairingToken.h"

#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_PairingToken : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_settingsDir;

    static QString stored()
    {
        return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"))
            .value(QStringLiteral("pairing/token"))
            .toString();
    }

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    }
    void init() { QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")).clear(); }

    void tokensAreFreshAndWellFormed()
    {
        QSet<QString> seen;
        for (int i = 0; i < 200; ++i) {
            const QString token = PairingToken::generate();
            QVERIFY2(PairingToken::isWellFormed(token), qPrintable(token));
            seen.insert(token);
        }
        QCOMPARE(seen.size(), 200);
        for (const char* bad : {"0123456789ABCDEF0123456789abcdef", "0123456789abcdef0123456789abcde",
                                "0123456789abcdef0123456789abcdeg", ""})
            QVERIFY2(!PairingToken::isWellFormed(QString::fromLatin1(bad)), bad);
    }

    void tokenSurvivesRestartsUntilRegenerated()
    {
        // A malformed stored value (hand-edited, truncated) is replaced, not trusted.
        QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"))
            .setValue(QStringLiteral("pairing/token"), "abc");
        QString token;
        {
            PairingToken first;
            token = first.token();
        }
        QVERIFY(PairingToken::isWellFormed(token));
        QCOMPARE(stored(), token); // written at once
        PairingToken restarted;
        QCOMPARE(restarted.token(), token);

        QSignalSpy changed(&restarted, &PairingToken::tokenChanged);
        const QString fresh = restarted.regenerate();
        QVERIFY(fresh != token);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(stored(), fresh);
        QVERIFY(!restarted.matches(token));
        QVERIFY(restarted.matches(fresh));
    }

    void onlyTheExactTokenMatches()
    {
        PairingToken token;
        const QString value = token.token();
        QString lastDiffers = value;
        lastDiffers[31] = value.at(31) == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
        for (const QString& wrong :
             QStringList{QString(), value.left(31), QString(value + QLatin1Char('0')), value.toUpper(),
                         lastDiffers, QString(32, QChar(0x00e9))}) // 32 units, but more bytes
            QVERIFY2(!token.matches(wrong), qPrintable(wrong));
        QVERIFY(token.matches(value));
    }
};

QTEST_GUILESS_MAIN(tst_PairingToken)
#include "tst_pairingtoken.moc"
