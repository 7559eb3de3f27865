#include "PhoneAccessTestSupport.h"

// The consent a new phone needs before its commands run, with the user played by a fake
// asker: one question at a time, the others waiting their turn, and the holds after a question.
class tst_ConsentQuestions : public PhoneAccessFixture
{
    Q_OBJECT
private slots:
    void initTestCase() { useOwnSettings(); }
    void init() { startClean(); }
    void cleanup() { m_server.reset(), m_access.reset(); }

    void unknownPhoneRunsNothingUntilAllowed()
    {
        LogCapture log;
        TestPhone phone(port());
        QTRY_COMPARE(m_asker->asked, QStringList{QStringLiteral("127.0.0.1")});
        phone.send(moveLine(1) + moveLine(2));
        QTest::qWait(50);
        // Reconnecting, even in a flood, raises no second question; the newest one waits.
        std::vector<std::unique_ptr<TestPhone>> again;
        for (int i = 0; i < 5; ++i)
            again.emplace_back(new TestPhone(port()))->send(moveLine(3));
        QTest::qWait(50);
        QVERIFY(phone.closedByServer());
        // Another newcomer meanwhile waits its turn: one question on the screen at a time.
        TestPhone other(port(), "127.0.0.2");
        QTRY_COMPARE(log.count(QStringLiteral("New phone waits for its turn to be asked about: 127.0.0.2")),
                     1);
        QCOMPARE(m_asker->asked.size(), 1);
        QCOMPARE(moves(), 0);
        QVERIFY(m_events.isEmpty()); // not the phone yet: the window shows nobody

        m_asker->answer(PhoneConsentAsker::Answer::Allow);
        QCOMPARE(m_events,
                 QStringList{
                     QStringLiteral("connected:::ffff:127.0.0.1:%1").arg(again.back()->socket.localPort())});
        QCOMPARE(moves(), 0); // what it sent while waiting was dropped, not queued
        again.back()->send(moveLine(4));
        QTRY_COMPARE(m_fake->records(),
                     QVector<InputRecord>{InputRecord::mouse(InputRecord::MouseMove, 4, 0)});
        for (int i = 0; i + 1 < int(again.size()); ++i)
            QVERIFY(again[i]->closedByServer());
        // Then the one that waited is asked; refused, it is gone.
        QTRY_COMPARE(m_asker->asked.size(), 2);
        QCOMPARE(m_asker->asked.last(), QStringLiteral("127.0.0.2"));
        m_asker->answer(PhoneConsentAsker::Answer::Refuse);
        QVERIFY(other.closedByServer());

        // "Allow" was for this connection only: the next one asks again.
        TestPhone later(port());
        QTRY_COMPARE(m_asker->asked.size(), 3);
        later.socket.abort(); // gone before the answer: the question is withdrawn
        QTRY_COMPARE(m_asker->cancelled, 1);
        QVERIFY(!m_asker->waiting());
    }

    void refusalHoldsTheAddressOffForAMinute()
    {
        TestPhone phone(port());
        QTRY_VERIFY(m_asker->waiting());
        m_asker->answer(PhoneConsentAsker::Answer::Refuse);
        QVERIFY(phone.closedByServer());
        m_now += Server::RefusalHoldMs - 1;
        TestPhone soon(port());
        QVERIFY(soon.closedByServer());
        TestPhone elsewhere(port(), "127.0.0.2"); // only that address is held off
        QTRY_COMPARE(m_asker->asked, (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")}));
        m_asker->answer(PhoneConsentAsker::Answer::Refuse);
        m_now += 1;
        TestPhone afterwards(port());
        QTRY_COMPARE(m_asker->asked.size(), 3);
        QCOMPARE(moves(), 0);
    }

    // A browser that a web page sent to the command port is no phone to ask the user about.
    void browserWaitingForConsentIsTurnedAway()
    {
        LogCapture log;
        TestPhone browser(port());
        QTRY_VERIFY(m_asker->waiting());
        browser.send("POST / HTTP/1.1\r\nHost: 127.0.0.1:8888\r\n\r\n" + moveLine(1));
        QVERIFY(browser.closedByServer());
        QCOMPARE(m_asker->cancelled, 1);
        QCOMPARE(
            log.count(QStringLiteral("Connection closed, it speaks HTTP, not the phone protocol: 127.0.0.1")),
            1);
        TestPhone phone(port()); // not held off: the next one is asked
        QTRY_COMPARE(m_asker->asked.size(), 2);
        QCOMPARE(moves(), 0);
    }

    // An unanswered question ends after a minute: its phone is turned away and held off for
    // a minute, so that a host reconnecting at each end cannot keep the question to itself.
    void unansweredQuestionExpiresAndHoldsOff()
    {
        LogCapture log;
        TestPhone waiting(port());
        QTRY_VERIFY(m_asker->waiting());
        QCOMPARE(m_asker->timeoutMs, int(Server::ConsentTimeoutMs));
        auto* expiry = m_server->findChild<QTimer*>(QStringLiteral("consentExpiry"));
        QVERIFY(expiry && expiry->isActive());
        m_now += Server::ConsentTimeoutMs - 1;
        QMetaObject::invokeMethod(expiry, "timeout"); // woken early: nothing ends yet
        QTest::qWait(20);
        QCOMPARE(waiting.socket.state(), QAbstractSocket::ConnectedState);

        m_now += 1;
        QMetaObject::invokeMethod(expiry, "timeout");
        QVERIFY(waiting.closedByServer());
        QCOMPARE(m_asker->cancelled, 1);
        QCOMPARE(log.count(QStringLiteral("Nobody answered in time, the phone waiting for consent is turned "
                                          "away: 127.0.0.1")),
                 1);
        TestPhone atOnce(port());
        QVERIFY(atOnce.closedByServer());
        QCOMPARE(
            log.count(QStringLiteral("ended unanswered moments ago; it may ask again in 60 s: 127.0.0.1")),
            1);
        m_now += Server::RefusalHoldMs;
        TestPhone later(port());
        QTRY_COMPARE(m_asker->asked.size(), 2);

        // With no timer firing (the event loop was busy), the next newcomer ends the old question.
        m_now += Server::ConsentTimeoutMs;
        TestPhone next(port(), "127.0.0.2");
        QVERIFY(later.closedByServer());
        QTRY_COMPARE(m_asker->asked.last(), QStringLiteral("127.0.0.2"));
        m_asker->answer(PhoneConsentAsker::Answer::Allow);
        next.send(moveLine(5));
        QTRY_COMPARE(moves(), 1);
    }

    // A stranger's question does not keep a new phone waiting long: once its turn is over it
    // gives way to the phone waiting (however often the stranger reconnects), and its address is
    // held off. The line behind the question is bounded.
    void questionsTakeTurns()
    {
        LogCapture log;
        auto stranger = std::make_unique<TestPhone>(port(), "127.0.0.3");
        QTRY_VERIFY(m_asker->waiting());
        m_now += 1000;
        TestPhone phone(port(), "127.0.0.2");
        QTRY_COMPARE(log.count(QStringLiteral("New phone waits for its turn to be asked about: 127.0.0.2")),
                     1);
        auto* expiry = m_server->findChild<QTimer*>(QStringLiteral("consentExpiry"));
        QVERIFY(expiry->isActive() && expiry->remainingTime() < Server::QuestionTurnMs + 1000);
        stranger = std::make_unique<TestPhone>(port(), "127.0.0.3"); // it keeps its question, not more
        QTest::qWait(20);
        QCOMPARE(m_asker->asked, QStringList{QStringLiteral("127.0.0.3")});

        m_now += Server::QuestionTurnMs - 1000;
        QMetaObject::invokeMethod(expiry, "timeout");
        QTRY_COMPARE(m_asker->asked, (QStringList{QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.2")}));
        QVERIFY(stranger->closedByServer());
        QCOMPARE(log.count(QStringLiteral("the question about this one gives way: 127.0.0.3")), 1);
        TestPhone back(port(), "127.0.0.3");
        QVERIFY(back.closedByServer());

        std::vector<std::unique_ptr<TestPhone>> crowd;
        for (int i = 0; i <= Server::MaxWaitingForTurn; ++i)
            crowd.emplace_back(new TestPhone(port(), qPrintable(QStringLiteral("127.0.1.%1").arg(i + 1))));
        QVERIFY(crowd.back()->closedByServer());
        QCOMPARE(
            log.count(QStringLiteral("too many new phones wait for consent; this one may retry in a moment: "
                                     "127.0.1.%1")
                          .arg(Server::MaxWaitingForTurn + 1)),
            1);
        m_asker->answer(PhoneConsentAsker::Answer::Allow);
        phone.send(moveLine(6));
        QTRY_COMPARE(moves(), 1);
        QTRY_COMPARE(m_asker->asked.last(), QStringLiteral("127.0.1.1")); // the next in line
        QCOMPARE(crowd.front()->socket.state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(tst_ConsentQuestions)
#include "tst_consentquestions.moc"
