// Typing a text whose characters the desktop cannot all type: runs pasted through the
// clipboard in order, the user's clipboard put back, cancels between runs, and what can be
// neither typed nor pasted reported (and kept out of the log).

#include "platform/clipboard/ClipboardFake.h"
#include "platform/input/InputBackendFake.h"
#include "remote/InputSimulator.h"
#include "remote/TextTyper.h"
#include "support/LogCapture.h"

#include <QTest>

namespace {

constexpr std::uint16_t kShift = 0x10;
constexpr std::uint16_t kInsert = 0x2D;

// A desktop that types only ASCII through keys, a clipboard, and what a focused application
// would show: typed characters, and the clipboard's text wherever Shift+Insert was pressed.
struct Desktop
{
    InputBackendFake* backend = nullptr;
    std::unique_ptr<InputSimulator> input;
    ClipboardFake clipboard;
    TextTyper* typer = nullptr;
    std::unique_ptr<TextTyper> owned;
    QString shown;
    QStringList events; // "paste", "keys" with the clipboard's text at that moment
    bool readsPastes = true;
    bool clipboardReachable = true;
    bool pasteAllowed = true;

    Desktop()
    {
        auto fake = std::make_unique<InputBackendFake>();
        backend = fake.get();
        backend->setTypingPause(0);
        backend->setUntypeable([](char32_t c) { return c >= 0x80; });
        input = std::make_unique<InputSimulator>(std::move(fake));
        owned = std::make_unique<TextTyper>(input.get());
        typer = owned.get();
        typer->setPaste([this] { return clipboardReachable ? &clipboard : nullptr; },
                        [this] { return pasteAllowed; });
        backend->setSendHook([this](const QVector<InputRecord>& records) { take(records); });
        // The user's clipboard: a rich text copied from a browser.
        clipboard.content =
            ClipboardContent{true,
                             {{QStringLiteral("text/html"), QByteArray("<b>mine</b>")},
                              {QStringLiteral("text/plain;charset=utf-8"), QByteArray("mine")}},
                             {}};
        clipboard.read = ClipboardRead{ClipboardRead::Result::Text, QStringLiteral("mine")};
    }

    void take(const QVector<InputRecord>& records)
    {
        for (const InputRecord& r : records) {
            if (r.type != InputRecord::Keyboard || (r.flags & InputRecord::KeyUp))
                continue;
            if (r.flags & InputRecord::Unicode) {
                shown += QChar(r.scan);
            } else if (r.vk == kInsert && m_shiftDown) {
                events << QStringLiteral("paste");
                if (readsPastes) {
                    shown += clipboard.read.text;
                    // The application reads it on its own time.
                    if (auto taken = clipboard.taken)
                        QTimer::singleShot(0, &clipboard, taken);
                }
            } else if (r.vk != kShift) {
                events << QStringLiteral("keys:") + clipboard.read.text;
            }
            if (r.vk == kShift)
                m_shiftDown = true;
        }
        for (const InputRecord& r : records) {
            if (r.vk == kShift && (r.flags & InputRecord::KeyUp))
                m_shiftDown = false;
        }
    }

    // Types the rest, giving each paste its time.
    bool finish(int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!typer->continueTyping(TextTyper::PartMs)) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QTest::qWait(1); // the paste's time passes on the event loop
        }
        return true;
    }

private:
    bool m_shiftDown = false;
};

ClipboardContent mine()
{
    return ClipboardContent{true,
                            {{QStringLiteral("text/html"), QByteArray("<b>mine</b>")},
                             {QStringLiteral("text/plain;charset=utf-8"), QByteArray("mine")}},
                            {}};
}

} // namespace

class TestTextTyper : public QObject
{
    Q_OBJECT
private slots:
    // Every character arrives in order, the clipboard is back before the key combination
    // (which may paste it), and the pasted runs were offered as they are.
    void pastedRunsArriveInOrderAndClipboardComesBack()
    {
        Desktop desk;
        const QString text = QStringLiteral("Hello, w\u00f6rld \u4e16\u754c \U0001F600\n");
        QVector<TextTyper::Untyped> reports;
        desk.typer->start(text, {0x11, 0x56}, [&reports](const TextTyper::Untyped& u) { reports << u; });
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, text);
        QCOMPARE(desk.clipboard.offers, (QStringList{QStringLiteral("\u00f6"), QStringLiteral("\u4e16\u754c"),
                                                     QStringLiteral("\U0001F600")}));
        QCOMPARE(desk.clipboard.content, mine());
        QCOMPARE(desk.clipboard.restores, 1);
        QCOMPARE(desk.events.constLast(), QStringLiteral("keys:mine"));
        QVERIFY(reports.isEmpty());

        // Two texts one after the other (fed directly): the second waits for the first's paste.
        desk.shown.clear();
        desk.typer->start(QStringLiteral("\u00e9a"), {});
        desk.typer->start(QStringLiteral("b\u00e8"), {});
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, QStringLiteral("\u00e9ab\u00e8"));
        QCOMPARE(desk.clipboard.content, mine());

        // A desktop that cannot tell when a paste is read gets a fixed time for it.
        desk.shown.clear();
        desk.clipboard.tellsTaken = false;
        desk.typer->start(QStringLiteral("x\u00fcy"), {});
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, QStringLiteral("x\u00fcy"));
        QCOMPARE(desk.clipboard.content, mine());
    }

    // A window that never reads the paste holds the text up only so long.
    void unreadPasteTimesOut()
    {
        Desktop desk;
        desk.readsPastes = false;
        LogCapture log;
        desk.typer->start(QStringLiteral("a\u4e16b"), {});
        QVERIFY(desk.finish(TextTyper::PasteTimeoutMs * 5));
        QCOMPARE(desk.shown, QStringLiteral("ab"));
        QCOMPARE(desk.clipboard.content, mine());
        QCOMPARE(log.messages(QtWarningMsg).size(), 1);
    }

    // Where the desktop relays keys later (a portal), a read of the pasted run before the paste
    // key got there is someone else's; only a read after it lets the text go on.
    void readBeforeTheKeyArrivedIsNotThePaste()
    {
        Desktop desk;
        desk.readsPastes = false;
        desk.backend->setDeferDelivery(true);
        desk.typer->start(QStringLiteral("a\u4e16b"), {});
        QCOMPARE(desk.events, QStringList{QStringLiteral("paste")});
        desk.clipboard.taken(); // too early
        QTest::qWait(TextTyper::PasteSettleMs * 3);
        QVERIFY(!desk.typer->continueTyping(TextTyper::PartMs));
        desk.backend->deliver();
        desk.clipboard.taken();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(desk.finish());
        QVERIFY(clock.elapsed() < TextTyper::PasteTimeoutMs / 2);
        QCOMPARE(desk.shown, QStringLiteral("ab"));
    }

    // A key the desktop relays late still gets its paste read: the window's time starts when
    // the key gets there, and the text waits no longer than that.
    void aKeyRelayedLateStillGetsItsRead()
    {
        Desktop desk;
        desk.readsPastes = false;
        desk.backend->setDeferDelivery(true);
        LogCapture log;
        desk.typer->start(QStringLiteral("a\u4e16b"), {});
        QTest::qWait(TextTyper::PasteTimeoutMs * 3 / 2);
        QVERIFY(!desk.typer->continueTyping(TextTyper::PartMs));
        QCOMPARE(desk.events, QStringList{QStringLiteral("paste")});
        desk.backend->deliver();
        desk.clipboard.taken();
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, QStringLiteral("ab"));
        QCOMPARE(log.messages(QtWarningMsg).size(), 0);

        // Delivered but never read: the text goes on a read's time after the key arrived.
        desk.events.clear();
        desk.typer->start(QStringLiteral("c\u4e16d"), {});
        desk.backend->deliver();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(desk.finish(TextTyper::PasteKeyTimeoutMs * 2));
        QVERIFY2(clock.elapsed() < TextTyper::PasteKeyTimeoutMs,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(log.messages(QtWarningMsg).size(), 1);
    }

    // Cancel or a new phone (end) stops between runs; a paste already asked for is read
    // before the user's clipboard comes back, so it never pastes the user's own content.
    void endStopsBetweenRuns()
    {
        Desktop desk;
        desk.readsPastes = false;
        desk.typer->start(QStringLiteral("a\u4e16b\u754cc"), {0x0D});
        QVERIFY(!desk.typer->continueTyping(TextTyper::PartMs));
        QCOMPARE(desk.events, QStringList{QStringLiteral("paste")});
        desk.typer->end();
        QVERIFY(!desk.typer->isTyping());
        QCOMPARE(desk.clipboard.read.text, QStringLiteral("\u4e16")); // still out
        desk.clipboard.taken();                                       // the window reads it now
        QTRY_COMPARE(desk.clipboard.content, mine());
        QCOMPARE(desk.shown, QStringLiteral("a"));
        QCOMPARE(desk.events, QStringList{QStringLiteral("paste")}); // no more runs, no keys

        // Cut while the clipboard was still being read: nothing is pasted or restored.
        desk.clipboard.deferSaves = true;
        desk.events.clear();
        desk.typer->start(QStringLiteral("\u4e16"), {});
        QVERIFY(desk.typer->isWaiting());
        desk.typer->end();
        desk.clipboard.answerSave();
        QVERIFY(desk.events.isEmpty());
        QCOMPARE(desk.clipboard.restores, 1);

        // The service going away puts the clipboard back at once.
        desk.clipboard.deferSaves = false;
        desk.typer->start(QStringLiteral("\u4e16x"), {});
        QVERIFY(desk.typer->isWaiting());
        desk.typer->end(TextTyper::EndRestore::Now);
        QCOMPARE(desk.clipboard.content, mine());
    }

    // Characters that can be neither typed nor pasted are reported, with their positions; the
    // log says how many, never which. The clipboard is not touched unless it can come back.
    void untypeableCharactersAreReported_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("reason");
        QTest::newRow("paste off") << 0 << QStringLiteral("pasteOff");
        QTest::newRow("no clipboard") << 1 << QStringLiteral("noClipboard");
        QTest::newRow("clipboard holds a picture") << 2 << QStringLiteral("clipboardBusy");
        QTest::newRow("clipboard refuses") << 3 << QStringLiteral("pasteRefused");
    }
    void untypeableCharactersAreReported()
    {
        QFETCH(int, setup);
        QFETCH(QString, reason);
        Desktop desk;
        if (setup == 0)
            desk.pasteAllowed = false;
        if (setup == 1)
            desk.clipboardReachable = false;
        if (setup == 2) {
            desk.clipboard.content = ClipboardContent{};
            desk.clipboard.read = ClipboardRead{ClipboardRead::Result::NotText, QString()};
        }
        if (setup == 3) {
            desk.clipboard.content = ClipboardContent{true, {}, {}};
            desk.clipboard.accepting = false;
        }
        const ClipboardContent before = desk.clipboard.content;
        LogCapture log;
        QVector<TextTyper::Untyped> reports;
        const QString secret = QStringLiteral("p\u00e4ss \U0001F511w\u00f6rd");
        desk.typer->start(secret, {}, [&reports](const TextTyper::Untyped& u) { reports << u; });
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, QStringLiteral("pss wrd"));
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.at(0).count, 3);
        QCOMPARE(reports.at(0).positions, (QVector<int>{1, 5, 7})); // the key counts once
        QCOMPARE(reports.at(0).reason, reason);
        QVERIFY(desk.clipboard.offers.isEmpty());
        QCOMPARE(desk.clipboard.content, before);
        QCOMPARE(log.count(QStringLiteral("未输入的字符数: 3")), 1);
        for (const QString& c :
             {QStringLiteral("\u00e4"), QStringLiteral("\U0001F511"), QStringLiteral("ss w")}) {
            for (const QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg})
                QVERIFY(log.messages(type).filter(c).isEmpty());
        }
    }

    // A backend with spare keys (X11) types a run that fits them and leaves the clipboard
    // alone; a longer run is pasted whole. Where pasting is out, it types every run, slowly,
    // and nothing is reported.
    void spareKeysFirstAndSlowKeysWherePastingIsOut()
    {
        Desktop desk;
        desk.backend->setSpareCharacters(3, true);
        // Runs of 2 and 3 distinct characters fit, one of 4 distinct does not.
        const QString text = QStringLiteral("aööb世界世éc一二三四.");
        desk.typer->start(text, {});
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, text);
        QCOMPARE(desk.clipboard.offers, QStringList{QStringLiteral("一二三四")});
        QCOMPARE(desk.clipboard.content, mine());

        for (int setup = 0; setup < 3; ++setup) {
            Desktop out;
            out.backend->setSpareCharacters(0, true);
            if (setup == 0)
                out.pasteAllowed = false;
            else if (setup == 1)
                out.clipboardReachable = false;
            else
                out.clipboard.accepting = false;
            QVector<TextTyper::Untyped> reports;
            out.typer->start(text, {}, [&reports](const TextTyper::Untyped& u) { reports << u; });
            QVERIFY(out.finish());
            QCOMPARE(out.shown, text);
            QVERIFY(reports.isEmpty());
            QVERIFY(out.clipboard.offers.isEmpty());
            QCOMPARE(out.clipboard.content, mine());
        }
    }

    // A long text of characters the layout lacks goes in one paste, not one per character,
    // and a report lists the first positions only.
    void longRunsAndLongReports()
    {
        Desktop desk;
        QString chinese;
        for (int i = 0; i < 600; ++i)
            chinese += QChar(0x4e00 + i);
        desk.typer->start(chinese, {});
        QVERIFY(desk.finish());
        QCOMPARE(desk.shown, chinese);
        QCOMPARE(desk.clipboard.offers.size(), 1);

        desk.pasteAllowed = false;
        QVector<TextTyper::Untyped> reports;
        desk.typer->start(chinese, {}, [&reports](const TextTyper::Untyped& u) { reports << u; });
        QVERIFY(desk.finish());
        QCOMPARE(reports.at(0).count, 600);
        QCOMPARE(reports.at(0).positions.size(), TextTyper::MaxReportedPositions);
    }
};

QTEST_GUILESS_MAIN(TestTextTyper)
#include "tst_texttyper.moc"
