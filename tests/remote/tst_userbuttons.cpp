// The user's own buttons: the store across restarts and older databases, the checks every
// change passes, and a button pressed by a phone on the TCP protocol.
#include "RemoteTestSupport.h"
#include "data/DataTestSupport.h"

#include "platform/input/InputBackendFake.h"
#include "remote/UserButtonHandler.h"
#include "support/RecordingContext.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonObject json(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

QStringList labels()
{
    QStringList names;
    for (const auto& button : UserButtonService::instance()->buttons())
        names << button->label();
    return names;
}

ButtonKeys combo(QVector<int> codes)
{
    return ButtonKeys{{}, {std::move(codes)}};
}

} // namespace

class tst_UserButtons : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestContext> m_context;
    RecordingContext m_phone;
    UserButtonHandler m_handler{nullptr};

    // One change as the phone sends it; its answer.
    QJsonObject change(const QByteArray& params)
    {
        m_phone.answers.clear();
        m_handler.handle(QStringLiteral("buttonchange"), json(params), m_phone);
        return m_phone.answers.value(0).second;
    }
    void restart()
    {
        releaseDatabases();
        QVERIFY(startDatabases());
        UserButtonService::instance()->load();
    }

private slots:
    void init()
    {
        m_context = std::make_unique<TestContext>();
        QVERIFY(startDatabases());
        UserButtonService::instance()->load();
        QVERIFY(UserButtonService::instance()->buttons().isEmpty());
    }
    void cleanup()
    {
        releaseDatabases();
        m_context.reset();
    }

    void madeMovedEditedAndDeletedButtonsSurviveARestart()
    {
        UserButtonService* store = UserButtonService::instance();
        int tab = 0;
        int close = 0;
        QCOMPARE(store->add(QStringLiteral("Switch"), ButtonKeys{{18}, {{9}, {9}}}),
                 UserButtonService::Result::Ok);
        QCOMPARE(store->add(QStringLiteral("  Reopen tab "), combo({17, 16, 84}), &tab),
                 UserButtonService::Result::Ok);
        QCOMPARE(store->add(QStringLiteral("Close"), combo({18, 115}), &close),
                 UserButtonService::Result::Ok);
        QCOMPARE(labels(), QStringList({"Switch", "Reopen tab", "Close"}));

        QCOMPARE(store->move(close, 0), UserButtonService::Result::Ok);
        QCOMPARE(store->move(tab, 99), UserButtonService::Result::Ok); // past the end: last
        QCOMPARE(store->edit(close, QStringLiteral("Close 窗口 🪟"), combo({17, 87})),
                 UserButtonService::Result::Ok);
        restart();
        QCOMPARE(labels(), QStringList({"Close 窗口 🪟", "Switch", "Reopen tab"}));
        QCOMPARE(UserButtonService::storedKeys(*store->find(close)),
                 std::optional<ButtonKeys>(combo({17, 87})));

        QCOMPARE(store->removeButton(close), UserButtonService::Result::Ok);
        QCOMPARE(store->removeButton(close), UserButtonService::Result::Unknown);
        QCOMPARE(store->edit(close, QStringLiteral("x"), combo({65})), UserButtonService::Result::Unknown);
        QCOMPARE(store->move(close, 0), UserButtonService::Result::Unknown);
        int added = 0;
        QCOMPARE(store->add(QStringLiteral("New"), combo({65}), &added), UserButtonService::Result::Ok);
        restart();
        QCOMPARE(labels(), QStringList({"Switch", "Reopen tab", "New"}));
        QCOMPARE(UserButtonService::storedKeys(*store->find(added)), std::optional<ButtonKeys>(combo({65})));
    }

    // A user who had Velmora before keeps their lists; the table is added beside them.
    void anOlderDatabaseGetsTheTableAndKeepsItsRows()
    {
        QVERIFY(execOn(SqlDatabase::Data, QStringLiteral("drop table UserButton")));
        QVERIFY(execOn(SqlDatabase::Data, QStringLiteral("insert into MediaFolder (name,path,sortNum) "
                                                         "values ('Music','/music',1)")));
        restart();
        QCOMPARE(UserButtonService::instance()->add(QStringLiteral("Save"), combo({17, 83})),
                 UserButtonService::Result::Ok);
        restart();
        QCOMPARE(labels(), QStringList({"Save"}));
        QSqlQuery folders(SqlDatabase::database(SqlDatabase::Data));
        QVERIFY(folders.exec(QStringLiteral("select name from MediaFolder")) && folders.next());
        QCOMPARE(folders.value(0).toString(), QStringLiteral("Music"));
    }

    void badRecordsAreRefusedWithTheirReason_data()
    {
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<QString>("error");
        const QByteArray longLabel = '"' + QByteArray(33, 'x') + '"';
        const auto add = [](const QByteArray& label, const QByteArray& keys) -> QByteArray {
            return R"({"action":"add","button":{"label":)" + label + "," + keys + "}}";
        };
        const QByteArray ok = R"("steps":[[17,84]])";
        QTest::newRow("empty label") << add(R"("")", ok) << QStringLiteral("badLabel");
        QTest::newRow("blank label") << add(R"("   ")", ok) << QStringLiteral("badLabel");
        QTest::newRow("33 characters") << add(longLabel, ok) << QStringLiteral("badLabel");
        QTest::newRow("line feed") << add(R"("a\nb")", ok) << QStringLiteral("badLabel");
        QTest::newRow("lone surrogate") << add(R"("a\ud800")", ok) << QStringLiteral("badLabel");
        QTest::newRow("label a number") << add("5", ok) << QStringLiteral("badLabel");
        QTest::newRow("no steps") << add(R"("a")", R"("steps":[])") << QStringLiteral("badKeys");
        QTest::newRow("steps missing") << add(R"("a")", R"("hold":[18])") << QStringLiteral("badKeys");
        QTest::newRow("17 steps") << add(R"("a")", R"("steps":[)" + QByteArray("[9],").repeated(16) + "[9]]")
                                  << QStringLiteral("badKeys");
        QTest::newRow("5 keys at once")
            << add(R"("a")", R"("steps":[[1,2,3,4,5]])") << QStringLiteral("badKeys");
        QTest::newRow("5 held") << add(R"("a")", R"("hold":[16,17,18,91,92],"steps":[[9]])")
                                << QStringLiteral("badKeys");
        QTest::newRow("code 0") << add(R"("a")", R"("steps":[[0]])") << QStringLiteral("badKeys");
        QTest::newRow("code 255") << add(R"("a")", R"("steps":[[255]])") << QStringLiteral("badKeys");
        QTest::newRow("fraction") << add(R"("a")", R"("steps":[[65.5]])") << QStringLiteral("badKeys");
        QTest::newRow("code as text") << add(R"("a")", R"("steps":[["65"]])") << QStringLiteral("badKeys");
        QTest::newRow("key twice") << add(R"("a")", R"("steps":[[65,65]])") << QStringLiteral("badKeys");
        QTest::newRow("held key in a step")
            << add(R"("a")", R"("hold":[18],"steps":[[18,9]])") << QStringLiteral("badKeys");
        QTest::newRow("step not a list") << add(R"("a")", R"("steps":[9])") << QStringLiteral("badKeys");
        QTest::newRow("no action") << QByteArray("{}") << QStringLiteral("badRequest");
        QTest::newRow("unknown action")
            << QByteArray(R"({"action":"drop","id":1})") << QStringLiteral("badRequest");
        QTest::newRow("move to -1") << QByteArray(R"({"action":"move","id":1,"to":-1})")
                                    << QStringLiteral("badRequest");
        QTest::newRow("edit unknown")
            << QByteArray(R"({"action":"edit","button":{"id":77,"label":"a",)" + ok + "}}")
            << QStringLiteral("unknown");
        QTest::newRow("delete unknown")
            << QByteArray(R"({"action":"delete","id":77})") << QStringLiteral("unknown");
        QTest::newRow("delete no id") << QByteArray(R"({"action":"delete"})") << QStringLiteral("unknown");
    }

    void badRecordsAreRefusedWithTheirReason()
    {
        QFETCH(QByteArray, params);
        QFETCH(QString, error);
        QCOMPARE(change(R"({"action":"add","button":{"label":"Keep","steps":[[17,67]]}})").value("ok"), true);
        QJsonObject answer;
        {
            LogCapture log;
            answer = change(params);
            QCOMPARE(log.count(QStringLiteral("buttonchange: refused")), 1);
        }
        QCOMPARE(m_phone.answers.value(0).first, QStringLiteral("buttonchange"));
        QCOMPARE(answer.value("ok"), QJsonValue(false));
        QCOMPARE(answer.value("error").toString(), error);
        QVERIFY(!answer.value("message").toString().isEmpty());
        QVERIFY(!answer.contains("buttons"));
        restart();
        QCOMPARE(labels(), QStringList({"Keep"}));
    }

    void theListAnswersEveryChangeAndHasABound()
    {
        const QJsonObject first =
            change(R"({"action":"add","button":{"label":"Tabs","hold":[18],"steps":[[9],[9]]}})");
        QCOMPARE(first.value("ok"), true);
        const int id = first.value("id").toInt();
        QCOMPARE(
            QJsonDocument(first.value("buttons").toArray()).toJson(QJsonDocument::Compact),
            QStringLiteral(R"([{"hold":[18],"id":%1,"label":"Tabs","steps":[[9],[9]]}])").arg(id).toUtf8());
        for (int i = 1; i < UserButtonService::MaxButtons; ++i)
            QCOMPARE(change(R"({"action":"add","button":{"label":"k","steps":[[75]]}})").value("ok"), true);
        QCOMPARE(change(R"({"action":"add","button":{"label":"k","steps":[[75]]}})").value("error"),
                 "tooMany");
        QCOMPARE(change(QStringLiteral(R"({"action":"move","id":%1,"to":5})").arg(id).toUtf8())
                     .value("buttons")
                     .toArray()
                     .at(5)
                     .toObject()
                     .value("id"),
                 id);
        QCOMPARE(change(QStringLiteral(R"({"action":"delete","id":%1})").arg(id).toUtf8())
                     .value("buttons")
                     .toArray()
                     .size(),
                 UserButtonService::MaxButtons - 1);

        m_phone.answers.clear();
        m_handler.handle(QStringLiteral("buttonlist"), {}, m_phone);
        QCOMPARE(m_phone.answers.value(0).first, QStringLiteral("buttonlist"));
        QCOMPARE(m_phone.answers.value(0).second.value("buttons").toArray().size(),
                 UserButtonService::MaxButtons - 1);
    }

    // A database that went away: the change is refused and the list stays as stored.
    void aFailedWriteIsReportedAndNotCached()
    {
        QCOMPARE(change(R"({"action":"add","button":{"label":"One","steps":[[49]]}})").value("ok"), true);
        const int id = UserButtonService::instance()->buttons().value(0)->id();
        releaseDatabases();
        LogCapture log;
        QCOMPARE(change(R"({"action":"add","button":{"label":"Two","steps":[[50]]}})").value("error"),
                 "storeFailed");
        QCOMPARE(change(QStringLiteral(R"({"action":"edit","button":{"id":%1,"label":"Uno","steps":[[49]]}})")
                            .arg(id)
                            .toUtf8())
                     .value("error"),
                 "storeFailed");
        QCOMPARE(change(QStringLiteral(R"({"action":"delete","id":%1})").arg(id).toUtf8()).value("error"),
                 "storeFailed");
        QCOMPARE(labels(), QStringList({"One"}));
        QCOMPARE(log.daoErrors().size(), 3);
    }

    // Over TCP: made, listed and pressed; held keys stay down around each step.
    void aPhoneMakesAndPressesAButton()
    {
        auto owned = std::make_unique<InputBackendFake>();
        InputBackendFake* keys = owned.get();
        Server server(std::move(owned), nullptr);
        QVERIFY(server.start(0));
        Phone phone;
        QVERIFY(phone.attach(server));
        phone.send(
            R"({"command":"buttonchange","params":{"action":"add","button":{"label":"Switch","hold":[18],"steps":[[9],[16,9]]}}})"
            "\n");
        QTRY_VERIFY(phone.socket().canReadLine());
        const QJsonObject answer = json(phone.socket().readLine()).value("params").toObject();
        QCOMPARE(answer.value("ok"), true);
        const int id = answer.value("id").toInt();
        phone.send(QStringLiteral(R"({"command":"buttonpress","params":{"id":%1}})").arg(id).toUtf8() + "\n" +
                   R"({"command":"buttonpress","params":{"id":12345}})"
                   "\n"
                   R"({"command":"buttonlist"})"
                   "\n");
        QTRY_VERIFY(phone.socket().canReadLine());
        const QJsonObject list = json(phone.socket().readLine()).value("params").toObject();
        QCOMPARE(list.value("buttons").toArray().size(), 1);
        const auto down = [](int vk) {
            return InputRecord::key(vk, 0, 0);
        };
        const auto up = [](int vk) {
            return InputRecord::key(vk, 0, InputRecord::KeyUp);
        };
        QCOMPARE(keys->records(),
                 QVector<InputRecord>({down(18), down(9), up(9), down(16), down(9), up(9), up(16), up(18)}));
    }
};

QTEST_GUILESS_MAIN(tst_UserButtons)
#include "tst_userbuttons.moc"
