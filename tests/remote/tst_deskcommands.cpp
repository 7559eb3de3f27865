// The clipboard and volume commands on recording fakes, without sockets; and, through a
// loopback phone, that the clipboard's text never reaches the log, and that typed text the
// desktop lacks keys for is pasted through the clipboard or, with that switched off, reported.
#include "RemoteTestSupport.h"

#include "data/ConfigService.h"
#include "platform/clipboard/ClipboardFake.h"
#include "platform/input/InputBackendFake.h"
#include "platform/media/SystemVolumeFake.h"
#include "remote/ClipboardCommands.h"
#include "remote/TextTyper.h"
#include "remote/VolumeCommands.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

struct Answer
{
    QString command;
    QJsonObject params;
};

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace

class tst_DeskCommands : public QObject
{
    Q_OBJECT

private:
    QVector<Answer> m_answers;
    ClipboardCommands::Reply reply()
    {
        return [this](const QString& command, const QJsonObject& params) {
            m_answers.append({command, params});
        };
    }

private slots:
    void init() { m_answers.clear(); }

    void volumeRequestsTakeOnlyValidValues()
    {
        auto owned = std::make_unique<SystemVolumeFake>();
        SystemVolumeFake* volume = owned.get();
        VolumeCommands commands(std::move(owned), reply(), [] { return qint64(0); });
        LogCapture log;
        const char* const requests[] = {
            R"({"volume":40})",    R"({"volume":0})",  R"({"volume":100})", R"({"volume":40.5})",
            R"({"volume":"40"})",  R"({"volume":-1})", R"({"volume":101})", R"({})",
            R"({"volume":1e300})",
        };
        for (const char* request : requests)
            QVERIFY(commands.handle(QStringLiteral("volumeset"), json(request)));
        for (const char* request :
             {R"({"muted":true})", R"({"muted":false})", R"({"muted":1})", R"({"muted":"true"})"})
            QVERIFY(commands.handle(QStringLiteral("volumemute"), json(request)));
        QCOMPARE(volume->calls(),
                 QStringList({"volume 40", "volume 0", "volume 100", "mute on", "mute off"}));
        QCOMPARE(log.count(QStringLiteral("volumeset: invalid request ignored")), 6);
        QCOMPARE(log.count(QStringLiteral("volumemute: invalid request ignored")), 2);
        QVERIFY(!commands.handle(QStringLiteral("mousemove"), {}));
        QVERIFY(m_answers.isEmpty());
    }

    void volumeChangesArePushedSpacedWithTheLastOneKept()
    {
        auto owned = std::make_unique<SystemVolumeFake>();
        SystemVolumeFake* volume = owned.get();
        qint64 now = 1000;
        VolumeCommands commands(std::move(owned), reply(), [&now] { return now; });

        QVERIFY(commands.handle(QStringLiteral("volumestatus"), {}));
        QCOMPARE(QJsonDocument(m_answers.value(0).params).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"available":false,"server":false})"));
        volume->setState({true, true, 30, false});
        volume->setState({true, true, 31, false}); // inside the interval: waits
        volume->setState({true, true, 35, true});
        QCOMPARE(m_answers.size(), 2);
        QCOMPARE(m_answers.at(1).params.value("volume").toInt(), 30);
        now += VolumeCommands::PushIntervalMs;
        QTRY_COMPARE(m_answers.size(), 3);
        QCOMPARE(m_answers.at(2).command, QStringLiteral("volumestatus"));
        QCOMPARE(m_answers.at(2).params.value("volume").toInt(), 35);
        QCOMPARE(m_answers.at(2).params.value("muted").toBool(), true);
    }

    void clipboardTextArrivesWholeInPartsUpToTheLimit()
    {
        auto owned = std::make_unique<ClipboardFake>();
        ClipboardFake* clipboard = owned.get();
        ClipboardCommands commands(
            std::move(owned), [] { return false; }, [] { return qint64(0); });
        const int a = 1, b = 2;
        auto set = [&](const QJsonObject& params, const void* sender = nullptr) {
            commands.handle(QStringLiteral("clipboardset"), params, sender ? sender : &a, reply());
        };
        auto lastError = [this] {
            return m_answers.constLast().params.value("error").toString();
        };

        set({{"text", "ab"}, {"part", 0}, {"more", true}});
        set({{"text", "c\U0001F600"}, {"part", 1}, {"more", true}});
        QVERIFY(m_answers.isEmpty());
        set({{"text", "d"}, {"part", 2}});
        QCOMPARE(clipboard->read.text, QString("abc\U0001F600d"));
        QCOMPARE(m_answers.constLast().params.value("ok").toBool(), true);

        // A part out of order, or from another phone, ends the text; nothing is set.
        set({{"text", "x"}, {"part", 0}, {"more", true}});
        set({{"text", "y"}, {"part", 2}});
        set({{"text", "x"}, {"part", 0}, {"more", true}});
        set({{"text", "y"}, {"part", 1}}, &b);
        set({{"text", 5}});
        QCOMPARE(m_answers.size(), 1);
        QCOMPARE(clipboard->read.text, QString("abc\U0001F600d"));

        // Exactly 1 MiB of UTF-8 goes, one byte more is refused, in one message or in parts.
        const QString half = QString(ClipboardCommands::MaxTextBytes / 2, QLatin1Char('x'));
        set({{"text", half}, {"part", 0}, {"more", true}});
        set({{"text", half}, {"part", 1}});
        QCOMPARE(clipboard->read.text.size(), int(ClipboardCommands::MaxTextBytes));
        set({{"text", half}, {"part", 0}, {"more", true}});
        set({{"text", half}, {"part", 1}, {"more", true}});
        set({{"text", "\u00e9"}, {"part", 2}}); // two bytes
        QCOMPARE(lastError(), QStringLiteral("tooLarge"));
        set({{"text", QString(half + half + "x")}});
        QCOMPARE(lastError(), QStringLiteral("tooLarge"));
        QCOMPARE(clipboard->read.text.size(), int(ClipboardCommands::MaxTextBytes));

        // Half a surrogate pair is no text; an empty text is (it empties the clipboard).
        set({{"text", QString(QString(QChar(0xD800)) + "a")}});
        QCOMPARE(lastError(), QStringLiteral("badText"));
        set({{"text", ""}});
        QCOMPARE(m_answers.constLast().params.value("ok").toBool(), true);
        QCOMPARE(clipboard->read.text, QString());
        clipboard->accepting = false;
        set({{"text", "z"}});
        QCOMPARE(lastError(), QStringLiteral("unavailable"));
    }

    void clipboardIsReadOnlyWhileAllowed()
    {
        auto owned = std::make_unique<ClipboardFake>();
        ClipboardFake* clipboard = owned.get();
        bool allowed = false;
        ClipboardCommands commands(
            std::move(owned), [&allowed] { return allowed; }, [] { return qint64(1234); });
        clipboard->read = {ClipboardRead::Result::Text, QStringLiteral("secret")};
        auto get = [&] {
            commands.handle(QStringLiteral("clipboardget"), {}, nullptr, reply());
            return m_answers.constLast().params;
        };
        QCOMPARE(get().value("error").toString(), QStringLiteral("readOff"));
        QCOMPARE(clipboard->reads, 0);
        allowed = true;
        QJsonObject answer = get();
        QCOMPARE(answer.value("text").toString(), QStringLiteral("secret"));
        QCOMPARE(answer.value("takenAt").toDouble(), 1234.0);
        const std::pair<ClipboardRead::Result, const char*> failures[] = {
            {ClipboardRead::Result::NotText, "notText"},
            {ClipboardRead::Result::BadEncoding, "badEncoding"},
            {ClipboardRead::Result::Unavailable, "unavailable"},
        };
        for (const auto& [result, error] : failures) {
            clipboard->read = {result, QString()};
            answer = get();
            QCOMPARE(answer.value("ok").toBool(true), false);
            QCOMPARE(answer.value("error").toString(), QString::fromLatin1(error));
            QVERIFY(!answer.contains("text"));
        }
        clipboard->read = {ClipboardRead::Result::Text,
                           QString(ClipboardCommands::MaxTextBytes + 1, QLatin1Char('x'))};
        QCOMPARE(get().value("error").toString(), QStringLiteral("tooLarge"));
    }

    void clipboardBytesMustBeUtf8()
    {
        QCOMPARE(clipboardTextFromUtf8("caf\xc3\xa9", 10).text, QStringLiteral("caf\u00e9"));
        QCOMPARE(clipboardTextFromUtf8("caf\xe9", 10).result, ClipboardRead::Result::BadEncoding);
        QCOMPARE(clipboardTextFromUtf8("\xc3", 10).result, ClipboardRead::Result::BadEncoding); // cut short
        QCOMPARE(clipboardTextFromUtf8("abc", 2).result, ClipboardRead::Result::TooLarge);
    }

    void clipboardTextStaysOutOfTheLog()
    {
        auto backend = std::make_unique<InputBackendFake>();
        Server server(std::move(backend), nullptr);
        auto owned = std::make_unique<ClipboardFake>();
        ClipboardFake* clipboard = owned.get();
        server.setClipboard(std::move(owned), [] { return true; });
        QVERIFY(server.start(0));
        LogCapture log;
        Phone phone;
        QVERIFY(phone.attach(server));
        phone.send(R"({"command":"clipboardset","params":{"text":"hunter2-sent"}})"
                   "\n"
                   R"({"command":"clipboardget","params":{}})"
                   "\n");
        QByteArray received;
        QTRY_VERIFY((received += phone.socket().readAll()).count('\n') == 2);
        QCOMPARE(clipboard->read.text, QStringLiteral("hunter2-sent"));
        QVERIFY(received.contains(R"("text":"hunter2-sent")"));
        QCOMPARE(log.count(QStringLiteral("hunter2")), 0);
        QCOMPARE(log.count(QStringLiteral("\"textLength\":12")), 1);
    }

    // A phone types a text of which the desktop's keys hold only ASCII: with pasting on it all
    // arrives and the user's clipboard comes back; with it off the phone hears how many
    // characters were left out and where, and the log the count only.
    void untypeableTextIsPastedOrReported()
    {
        auto backend = std::make_unique<InputBackendFake>();
        InputBackendFake* keys = backend.get();
        keys->setTypingPause(0);
        keys->setUntypeable([](char32_t c) { return c >= 0x80; });
        Server server(std::move(backend), nullptr);
        auto owned = std::make_unique<ClipboardFake>();
        ClipboardFake* clipboard = owned.get();
        clipboard->tellsTaken = false; // the paste is given its time
        clipboard->read = ClipboardRead{ClipboardRead::Result::Text, QStringLiteral("mine")};
        server.setClipboard(std::move(owned), [] { return true; });
        QVERIFY(server.start(0));
        Phone phone;
        QVERIFY(phone.attach(server));
        const QByteArray line =
            QStringLiteral(R"({"command":"keyinput","params":{"text":"Gr\u00fc\u00dfe \u4e16\u754c"}})"
                           "\n")
                .toUtf8();

        ConfigService::instance()->setValue(QLatin1String(TextTyper::PasteSettingKey), QStringLiteral("1"),
                                            QStringLiteral("1"));
        phone.send(line);
        QTRY_COMPARE(clipboard->restores, 1);
        QCOMPARE(clipboard->offers,
                 (QStringList{QStringLiteral("\u00fc\u00df"), QStringLiteral("\u4e16\u754c")}));
        QCOMPARE(clipboard->read.text, QStringLiteral("mine"));

        ConfigService::instance()->setValue(QLatin1String(TextTyper::PasteSettingKey), QStringLiteral("0"),
                                            QStringLiteral("1"));
        LogCapture log;
        phone.send(line);
        QByteArray received;
        QTRY_VERIFY((received += phone.socket().readAll()).contains('\n'));
        const QJsonObject reply = QJsonDocument::fromJson(received).object();
        QCOMPARE(reply.value("command").toString(), QStringLiteral("keyinput"));
        const QJsonObject params = reply.value("params").toObject();
        QCOMPARE(params.value("untyped").toInt(), 4);
        QCOMPARE(params.value("positions").toArray(), (QJsonArray{2, 3, 6, 7}));
        QCOMPARE(params.value("reason").toString(), QStringLiteral("pasteOff"));
        QCOMPARE(clipboard->offers.size(), 2); // nothing new pasted
        QCOMPARE(log.count(QStringLiteral("未输入的字符数: 4")), 1);
        for (const char* c : {"\u00fc", "\u4e16", "\u00df"})
            QCOMPARE(log.count(QString::fromUtf8(c)), 0);
        ConfigService::instance()->setValue(QLatin1String(TextTyper::PasteSettingKey), QString(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_DeskCommands)
#include "tst_deskcommands.moc"
