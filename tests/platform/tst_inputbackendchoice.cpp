#include "platform/input/InputBackendChoice.h"
#include "platform/input/InputDecoding.h"
#include "platform/input/KeymapKeys.h"

#include <QTest>

#include <limits>

#include <X11/keysym.h>

Q_DECLARE_METATYPE(InputBackendKind)
Q_DECLARE_METATYPE(QVector<InputRecord>)

// Which backend a session gets, from its facts alone; and how typed units are joined.
class tst_InputBackendChoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("facts"); // letters: W wayland display, X x display, P pointer,
                                            // K keyboard, D portal, 2 portal version 2, G GNOME's
                                            // own interface, p portal preferred, U uinput
                                            // opt-in, u writable
        QTest::addColumn<QString>("forced");
        QTest::addColumn<InputBackendKind>("expected");

        const auto row = [](const char* name, const char* session, const char* facts, const char* forced,
                            InputBackendKind expected) {
            QTest::newRow(name) << QString::fromLatin1(session) << QString::fromLatin1(facts)
                                << QString::fromLatin1(forced) << expected;
        };
        row("x11 session", "x11", "X", "", InputBackendKind::XTest);
        row("x11 session, uinput opted in", "x11", "XUu", "", InputBackendKind::XTest);
        row("sway", "wayland", "WXPK", "", InputBackendKind::Wlroots);
        row("wlroots without xwayland", "wayland", "WPK", "", InputBackendKind::Wlroots);
        row("pointer only, portal", "wayland", "WXPD", "", InputBackendKind::Portal);
        row("gnome", "wayland", "WXD", "", InputBackendKind::Portal);
        row("gnome with uinput too", "wayland", "WXDUu", "", InputBackendKind::Portal);
        // GNOME: its own interface asks nothing, the portal asks at every start until it can
        // remember (version 2); the user may insist on the portal.
        row("gnome 43, portal version 1", "wayland", "WXDG", "", InputBackendKind::Mutter);
        row("gnome, portal remembers", "wayland", "WXD2G", "", InputBackendKind::Portal);
        row("gnome, portal preferred", "wayland", "WXDGp", "", InputBackendKind::Portal);
        row("gnome without a portal", "wayland", "WXGp", "", InputBackendKind::Mutter);
        row("gnome under sway's protocols", "wayland", "WPKDG", "", InputBackendKind::Wlroots);
        row("gnome, x11 session", "x11", "XDG", "", InputBackendKind::XTest);
        row("kde, portal version 1", "wayland", "WXD", "", InputBackendKind::Portal);
        row("forced mutter", "x11", "X", "mutter", InputBackendKind::Mutter);
        row("bare wayland, uinput", "wayland", "WXUu", "", InputBackendKind::Uinput);
        row("uinput not writable, xwayland", "wayland", "WXU", "", InputBackendKind::XTest);
        row("uinput not opted in", "wayland", "Wu", "", InputBackendKind::LogOnly);
        row("bare wayland, xwayland", "wayland", "WX", "", InputBackendKind::XTest);
        row("bare wayland", "wayland", "W", "", InputBackendKind::LogOnly);
        row("no session type, compositor", "", "WXPK", "", InputBackendKind::Wlroots);
        row("no session type, X only", "", "X", "", InputBackendKind::XTest);
        row("tty session with nothing", "tty", "", "", InputBackendKind::LogOnly);
        row("tty, uinput", "tty", "Uu", "", InputBackendKind::Uinput);
        row("forced log", "x11", "X", "log", InputBackendKind::LogOnly);
        row("forced portal", "x11", "X", "Portal", InputBackendKind::Portal);
        row("forced unknown is ignored", "x11", "X", "magic", InputBackendKind::XTest);
    }
    void choice()
    {
        QFETCH(QString, session);
        QFETCH(QString, facts);
        QFETCH(QString, forced);
        QFETCH(InputBackendKind, expected);
        InputSessionFacts f;
        f.sessionType = session;
        f.forced = forced;
        f.waylandDisplay = facts.contains(QLatin1Char('W'));
        f.x11Display = facts.contains(QLatin1Char('X'));
        f.virtualPointer = facts.contains(QLatin1Char('P'));
        f.virtualKeyboard = facts.contains(QLatin1Char('K'));
        f.portal = facts.contains(QLatin1Char('D'));
        f.portalVersion = facts.contains(QLatin1Char('2')) ? 2 : 1;
        f.mutter = facts.contains(QLatin1Char('G'));
        f.preferPortal = facts.contains(QLatin1Char('p'));
        f.uinputOptIn = facts.contains(QLatin1Char('U'));
        f.uinputWritable = facts.contains(QLatin1Char('u'));
        const InputBackendChoice c = chooseInputBackend(f);
        QCOMPARE(c.kind, expected);
        QVERIFY(!c.reason.isEmpty());
        const QString line = inputBackendLogLine(c);
        QVERIFY2(line.startsWith(QLatin1String("Input: ") + inputBackendName(expected) + QLatin1String(" (")),
                 qPrintable(line));
    }

    void joinedUnits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVector<uint>>("codePoints");
        QTest::newRow("plain and wide") << QString::fromUtf8("aé世") << QVector<uint>{'a', 0xE9, 0x4E16};
        QTest::newRow("surrogate pair") << QString::fromUtf8("😀!") << QVector<uint>{0x1F600, '!'};
        QTest::newRow("CR LF is one break")
            << QStringLiteral("a\r\nb\n\nc") << QVector<uint>{'a', '\r', 'b', '\n', '\n', 'c'};
        QTest::newRow("lone halves vanish")
            << (QString(QChar(0xDE00)) + QLatin1Char('x') + QChar(0xD83D)) << QVector<uint>{'x'};
        QTest::newRow("high half then a letter")
            << (QString(QChar(0xD83D)) + QLatin1Char('y')) << QVector<uint>{'y'};
    }
    void joinedUnits()
    {
        QFETCH(QString, text);
        QFETCH(QVector<uint>, codePoints);
        TypedUnitJoiner joiner;
        QVector<uint> got;
        for (QChar unit : text) {
            if (const char32_t cp = joiner.take(unit.unicode()))
                got << uint(cp);
        }
        QCOMPARE(got, codePoints);
    }

    // Moves that wait for a compositor to read again shrink to where they lead; anything
    // else keeps its place.
    void waitingMovesMerge_data()
    {
        using R = InputRecord;
        constexpr auto Move = R::MouseMove;
        constexpr auto To = R::MouseMove | R::Absolute;
        constexpr int Max = std::numeric_limits<std::int32_t>::max();
        QTest::addColumn<QVector<InputRecord>>("waiting");
        QTest::addColumn<QVector<InputRecord>>("batch");
        QTest::addColumn<bool>("merged");
        QTest::addColumn<QString>("after");
        QTest::newRow("relative moves add up") << QVector<R>{R::mouse(Move, 3, 1), R::mouse(Move, 1, 1)}
                                               << QVector<R>{R::mouse(Move, -2, 1)} << true << "move 2 3";
        QTest::newRow("an absolute move forgets what came before")
            << QVector<R>{R::mouse(Move, 10, 10), R::mouse(To, 9, 9)} << QVector<R>{R::mouse(To, 500, 600)}
            << true << "to 500 600";
        QTest::newRow("relative after absolute stays apart")
            << QVector<R>{R::mouse(To, 100, 200)} << QVector<R>{R::mouse(Move, 5, 0), R::mouse(Move, 1, -1)}
            << true << "to 100 200 | move 6 -1";
        QTest::newRow("a jiggle leaves nothing")
            << QVector<R>{R::mouse(Move, 1, 0)}
            << QVector<R>{R::mouse(Move, -1, 0), R::mouse(R::Absolute, 7, 7)} << true << "";
        QTest::newRow("a hostile sum saturates")
            << QVector<R>{R::mouse(Move, Max, -Max)} << QVector<R>{R::mouse(Move, Max, -Max - 1)} << true
            << QStringLiteral("move %1 %2").arg(Max).arg(-Max - 1);
        QTest::newRow("a click is not a move")
            << QVector<R>{R::mouse(Move, 1, 1)} << QVector<R>{R::mouse(Move | R::LeftDown, 1, 1)} << false
            << "move 1 1";
        QTest::newRow("nor is a key waiting")
            << QVector<R>{R::mouse(Move, 1, 1), R::key(0x41, 0, 0)} << QVector<R>{R::mouse(Move, 1, 1)}
            << false << "move 1 1 | key";
        QTest::newRow("nor a wheel") << QVector<R>{R::mouse(Move, 1, 1)}
                                     << QVector<R>{R::mouse(R::Wheel, 0, 0, R::WheelDelta)} << false
                                     << "move 1 1";
    }
    void waitingMovesMerge()
    {
        QFETCH(QVector<InputRecord>, waiting);
        QFETCH(QVector<InputRecord>, batch);
        QFETCH(bool, merged);
        QFETCH(QString, after);
        QCOMPARE(mergeMoves(waiting, batch), merged);
        QStringList got;
        for (const InputRecord& r : waiting) {
            if (r.type == InputRecord::Keyboard)
                got << QStringLiteral("key");
            else
                got << QStringLiteral("%1 %2 %3")
                           .arg((r.flags & InputRecord::Absolute) ? "to" : "move")
                           .arg(r.dx)
                           .arg(r.dy);
        }
        QCOMPARE(got.join(QLatin1String(" | ")), after);
    }

    // Keys for combinations are found in every layout of the keymap, the current one first.
    void keysOverAllLayouts()
    {
        const KeymapKeys keys = KeymapKeys::fromNames("ru,us");
        QCOMPARE(keys.layoutCount(), 2);
        constexpr quint32 keyC = 54, keyControl = 37; // XKB keycodes of C and left Control
        const auto place = [&](quint32 sym, quint32 preferred) {
            const KeymapKeys::Place p = keys.find(sym, preferred);
            return QStringLiteral("%1@%2").arg(p.keycode).arg(p.layout);
        };
        QCOMPARE(place(XK_c, 0), QStringLiteral("%1@1").arg(keyC)); // only in the second layout
        QCOMPARE(place(XK_Cyrillic_es, 1), QStringLiteral("%1@0").arg(keyC));
        QCOMPARE(place(XK_Control_L, 0), QStringLiteral("%1@0").arg(keyControl));
        QCOMPARE(place(XK_Control_L, 1), QStringLiteral("%1@1").arg(keyControl)); // stays put
        QCOMPARE(place(XK_C, 0), QStringLiteral("%1@1").arg(keyC));               // shifted level
        QCOMPARE(place(XK_Arabic_alef, 0), QStringLiteral("0@0"));                // nowhere
    }

    // Which characters the keys of a layout type, and which must be pasted instead.
    void charactersTheLayoutHolds()
    {
        const KeymapKeys us = KeymapKeys::fromNames("us");
        for (const char32_t c : {U'a', U'Z', U'~', U' ', U'\n', U'\t', char32_t(0x01)})
            QVERIFY2(us.holdsCharacter(c), qPrintable(QString::number(uint(c), 16)));
        for (const char32_t c : {char32_t(0xf6), char32_t(0x4e16), char32_t(0x1f600), char32_t(0x20ac)})
            QVERIFY2(!us.holdsCharacter(c), qPrintable(QString::number(uint(c), 16)));
        QVERIFY(KeymapKeys::fromNames("de").holdsCharacter(0xf6)); // ö has a key there
        QVERIFY(KeymapKeys::fromNames("ru,us").holdsCharacter(U'q'));
        QVERIFY(KeymapKeys().holdsCharacter(0x4e16)); // no keymap known: keys are tried
    }
};

QTEST_GUILESS_MAIN(tst_InputBackendChoice)
#include "tst_inputbackendchoice.moc"
