#include "web/AuthThrottle.h"

#include <QTest>

class tst_AuthThrottle : public QObject
{
    Q_OBJECT

private:
    const QString a = QStringLiteral("192.168.1.20");
    const QString b = QStringLiteral("192.168.1.21");

private slots:
    void holdGrowsAfterTheFreeFailuresAndIsCapped()
    {
        AuthThrottle throttle; // 3 free, then 1 s doubling up to 8 s
        qint64 now = 1000;
        QList<qint64> holds;
        for (int i = 0; i < 8; ++i) {
            holds << throttle.holdFor(a, now);
            throttle.recordFailure(a, now);
            now += 100;
        }
        QCOMPARE(holds, (QList<qint64>{0, 0, 0, 1000, 2000, 4000, 8000, 8000}));
        QCOMPARE(throttle.holdFor(b, now), 0); // per address
    }

    void quietAddressIsForgottenAndSuccessStartsAfresh()
    {
        AuthThrottle throttle;
        for (int i = 0; i < 4; ++i)
            throttle.recordFailure(a, 1000 + i);
        QVERIFY(throttle.holdFor(a, 2000) > 0);
        // A minute after the last failure nothing is held against it.
        QVERIFY(throttle.holdFor(a, 1003 + 60000) > 0);
        QCOMPARE(throttle.holdFor(a, 1004 + 60000), 0);
        // A failure after that counts from one again.
        throttle.recordFailure(a, 1004 + 60000);
        QCOMPARE(throttle.failures(a, 1005 + 60000), 1);

        for (int i = 0; i < 5; ++i)
            throttle.recordFailure(b, 5000);
        throttle.recordSuccess(b);
        QCOMPARE(throttle.holdFor(b, 5000), 0);
        QCOMPARE(throttle.failures(b, 5000), 0);
    }

    void tableStaysBoundedAndDropsTheStalest()
    {
        AuthThrottle::Policy policy;
        policy.maxAddresses = 4;
        policy.freeFailures = 0;
        AuthThrottle throttle(policy);
        for (int i = 0; i < 4; ++i)
            throttle.recordFailure(QStringLiteral("10.0.0.%1").arg(i), 100 + i);
        throttle.recordFailure(QStringLiteral("10.0.0.0"), 200); // refreshed: no longer the stalest
        throttle.recordFailure(QStringLiteral("10.0.0.9"), 300);
        QCOMPARE(throttle.size(), 4);
        QCOMPARE(throttle.failures(QStringLiteral("10.0.0.1"), 300), 0); // the stalest went
        QCOMPARE(throttle.failures(QStringLiteral("10.0.0.0"), 300), 2);
        QCOMPARE(throttle.failures(QStringLiteral("10.0.0.9"), 300), 1);

        // Expired entries make room before anyone current is dropped.
        for (int i = 0; i < 1000; ++i)
            throttle.recordFailure(QStringLiteral("10.1.%1.%2").arg(i / 256).arg(i % 256), 400 + i);
        QCOMPARE(throttle.size(), 4);
    }

    void countersDoNotOverflow()
    {
        AuthThrottle::Policy policy;
        policy.maxHoldMs = 8000;
        AuthThrottle throttle(policy);
        for (int i = 0; i < 100; ++i)
            throttle.recordFailure(a, 10);
        QCOMPARE(throttle.holdFor(a, 10), 8000);
    }
};

QTEST_GUILESS_MAIN(tst_AuthThrottle)
#include "tst_auththrottle.moc"
