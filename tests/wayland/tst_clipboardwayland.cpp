// The clipboard on a real compositor against wl-clipboard as the other program, while a window of
// another client (the probe) has the keyboard focus: through data control on sway and KWin, and
// through the clipboard of GNOME's remote-desktop session on Mutter. Built once per desktop
// (CLIPBOARD_DESKTOP); each runs under the compositor its scripts/test.d step starts.
#include "platform/clipboard/ClipboardMutter.h"
#include "platform/clipboard/ClipboardWlroots.h"
#include "platform/input/InputBackendMutter.h"
#include "platform/input/InputBackendWlroots.h"
#include "remote/ClipboardCommands.h"
#include "support/ToolRun.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <optional>

class tst_ClipboardWayland : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Clipboard> m_clipboard;
    std::unique_ptr<InputBackend> m_keyboard; // the headless seat's only keyboard
    std::optional<QDBusConnection> m_mutterBus;
    QProcess m_probe;
    QStringList m_events;

    static bool on(const char* desktop) { return QLatin1String(CLIPBOARD_DESKTOP) == QLatin1String(desktop); }

    static QByteArray paste()
    {
        return runTool(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")});
    }
    static void copyElsewhere(const QByteArray& bytes,
                              const QString& type = QStringLiteral("text/plain;charset=utf-8"))
    {
        runTool(QStringLiteral("wl-copy"), {QStringLiteral("--type"), type}, bytes);
    }
    // Another clipboard of this desktop's kind, as the program makes it on the first request.
    std::unique_ptr<Clipboard> openClipboard() const
    {
        if (on("GNOME"))
            return std::make_unique<ClipboardMutter>(*m_mutterBus);
        return ClipboardWlroots::open();
    }
    ClipboardRead read()
    {
        std::optional<ClipboardRead> result;
        m_clipboard->readText(1024 * 1024, [&result](const ClipboardRead& r) { result = r; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
            return ClipboardRead{ClipboardRead::Result::Unavailable, QStringLiteral("(no answer)")};
        return *result;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            QSKIP("needs the headless compositor of a scripts/test.d step");
        if (QStandardPaths::findExecutable(QStringLiteral("wl-copy")).isEmpty())
            QSKIP("needs wl-clipboard (see scripts/packages.txt)");
        if (on("GNOME")) {
            // Only the Mutter the script started: a real desktop's clipboard is not ours to test.
            const QString address = qEnvironmentVariable("VELMORA_TEST_MUTTER_BUS");
            if (address.isEmpty())
                QSKIP("needs the headless Mutter of scripts/test.d/gnome");
            const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("mutter"));
            QVERIFY(ClipboardMutter::available(bus));
            m_mutterBus = bus;
            // The input's session gives the seat its keyboard; the clipboard has one of its own.
            auto keyboard = std::make_unique<InputBackendMutter>(bus);
            QTRY_VERIFY_WITH_TIMEOUT(keyboard->isReady(), 10000);
            m_keyboard = std::move(keyboard);
            auto clipboard = std::make_unique<ClipboardMutter>(bus);
            QTRY_VERIFY_WITH_TIMEOUT(clipboard->isReady(), 10000);
            m_clipboard = std::move(clipboard);
        } else {
            if (on("sway") ? qEnvironmentVariableIsEmpty("VELMORA_TEST_SWAY")
                           : qEnvironmentVariable("VELMORA_TEST_PORTAL_DESKTOP") != QLatin1String("KDE"))
                QSKIP("needs the headless compositor of scripts/test.d/" CLIPBOARD_STEP);
            m_clipboard = ClipboardWlroots::open();
            QVERIFY2(m_clipboard != nullptr, "the compositor offers no data control");
            // A seat without a keyboard gives no window the focus: on sway the virtual one is it;
            // KWin's seat has one of its own (and offers no virtual keyboard to us).
            if (on("sway")) {
                m_keyboard = InputBackendWlroots::open();
                QVERIFY(m_keyboard != nullptr);
            }
        }
        connect(&m_probe, &QProcess::readyReadStandardOutput, this, [this] {
            while (m_probe.canReadLine())
                m_events << QString::fromUtf8(m_probe.readLine()).trimmed();
        });
        m_probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_probe.start(QStringLiteral(WAYLAND_PROBE), QStringList());
        QVERIFY(m_probe.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(QStringLiteral("focus")), 10000);
    }

    void cleanupTestCase()
    {
        m_clipboard.reset();
        m_keyboard.reset();
        if (m_probe.state() != QProcess::NotRunning) {
            m_probe.kill();
            m_probe.waitForFinished();
        }
    }

    void ourTextIsPastedElsewhere()
    {
        const QString text = QString::fromUtf8("from the phone é中😀\nline two");
        QVERIFY(m_clipboard->setText(text));
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(paste()), text, 5000);
        ClipboardRead own = read(); // and read back from ourselves
        QCOMPARE(own.text, text);

        QVERIFY(m_clipboard->setText(QString()));
        QTRY_COMPARE_WITH_TIMEOUT(paste(), QByteArray(), 5000);
        QVERIFY(runTool(QStringLiteral("wl-paste"), {QStringLiteral("--list-types")}).contains("text/plain"));
        own = read();
        QCOMPARE(own.result, ClipboardRead::Result::Text);
        QCOMPARE(own.text, QString());

        const QString large(1024 * 1024, QLatin1Char('y')); // more than a pipe holds at once
        QVERIFY(m_clipboard->setText(large));
        QTRY_COMPARE_WITH_TIMEOUT(paste().size(), large.size(), 5000);
        QVERIFY(m_events.contains(QStringLiteral("focus")));
    }

    // Each copy is read once the clipboard's news has reached us.
    void textCopiedElsewhereIsRead()
    {
        copyElsewhere(QString::fromUtf8("from the PC ü").toUtf8());
        QTRY_COMPARE_WITH_TIMEOUT(read().text, QString::fromUtf8("from the PC ü"), 5000);

        copyElsewhere("caf\xe9 \xff");
        QTRY_COMPARE_WITH_TIMEOUT(read().result, ClipboardRead::Result::BadEncoding, 5000);

        copyElsewhere(QByteArray(1024 * 1024, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(read().text.size(), 1024 * 1024, 5000);
        // Reading stops at the limit; the desktop gets over the reader that left.
        copyElsewhere(QByteArray(1024 * 1024 + 1, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(read().result, ClipboardRead::Result::TooLarge, 5000);

        copyElsewhere(QByteArray("\x89PNG\r\n\x1a\n", 8), QStringLiteral("image/png"));
        QTRY_COMPARE_WITH_TIMEOUT(read().result, ClipboardRead::Result::NotText, 5000);

        copyElsewhere("again");
        QTRY_COMPARE_WITH_TIMEOUT(read().text, QStringLiteral("again"), 5000);
        runTool(QStringLiteral("wl-copy"), {QStringLiteral("--clear")});
        QTRY_COMPARE_WITH_TIMEOUT(read().text, QString(), 5000);
        QCOMPARE(read().result, ClipboardRead::Result::Text);
    }

    // What a paste of ours displaces is saved type by type and put back as it was, a picture
    // included, and an empty clipboard is empty again (not on GNOME, where `wl-copy --clear`
    // leaves what a remote-desktop session put there; tst_clipboardmutter has that case).
    void everyTypeIsSavedAndPutBack()
    {
        const auto save = [](Clipboard& clipboard) {
            std::optional<ClipboardContent> saved;
            clipboard.saveContent(1024 * 1024, [&saved](const ClipboardContent& c) { saved = c; });
            return QTest::qWaitFor([&saved] { return saved.has_value(); }, 10000) ? *saved
                                                                                  : ClipboardContent();
        };
        const QByteArray picture("\x89PNG\r\n\x1a\n\0\xff picture", 18);
        copyElsewhere(picture, QStringLiteral("image/png"));
        QTRY_COMPARE_WITH_TIMEOUT(read().result, ClipboardRead::Result::NotText, 5000);
        ClipboardContent saved = save(*m_clipboard);
        QVERIFY(saved.known);
        QCOMPARE(saved.types, (QVector<QPair<QString, QByteArray>>{{QStringLiteral("image/png"), picture}}));
        QVERIFY(m_clipboard->offerTransient(QString::fromUtf8("\u4e16"), [] {}));
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(paste()), QString::fromUtf8("\u4e16"), 5000);
        QVERIFY(m_clipboard->restoreContent(saved));
        QTRY_COMPARE_WITH_TIMEOUT(
            runTool(QStringLiteral("wl-paste"), {QStringLiteral("--type"), QStringLiteral("image/png")}),
            picture, 5000);
        QCOMPARE(runTool(QStringLiteral("wl-paste"), {QStringLiteral("--list-types")}),
                 QByteArray("image/png\n"));
        if (on("GNOME"))
            return;

        runTool(QStringLiteral("wl-copy"), {QStringLiteral("--clear")});
        QTRY_COMPARE_WITH_TIMEOUT(read().text, QString(), 5000);
        saved = save(*m_clipboard);
        QVERIFY(saved.known);
        QVERIFY(saved.types.isEmpty());
        QVERIFY(m_clipboard->offerTransient(QStringLiteral("x"), [] {}));
        QTRY_COMPARE_WITH_TIMEOUT(paste(), QByteArray("x"), 5000);
        QVERIFY(m_clipboard->restoreContent(saved));
        // Another client sees no offer at all (wl-paste waits for one forever on KWin).
        std::unique_ptr<Clipboard> other = openClipboard();
        QTRY_VERIFY_WITH_TIMEOUT(save(*other) == saved, 5000);
    }

    // The phone's requests as the command server hands them over, from the first one on (the
    // clipboard still opening), with the read switch off and on.
    void phoneRequests()
    {
        bool readAllowed = false;
        QJsonObject answer;
        ClipboardCommands commands(
            openClipboard(), [&readAllowed] { return readAllowed; }, [] { return qint64(1); });
        const ClipboardCommands::Reply reply = [&answer](const QString&, const QJsonObject& body) {
            answer = body;
        };
        commands.handle(QStringLiteral("clipboardset"),
                        {{QStringLiteral("text"), QStringLiteral("phone text")}}, this, reply);
        // GNOME answers once Mutter has taken the text.
        QTRY_COMPARE_WITH_TIMEOUT(answer.value(QStringLiteral("ok")), QJsonValue(true), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(paste()), QStringLiteral("phone text"), 5000);

        copyElsewhere("desktop text");
        const auto get = [&]() {
            answer = QJsonObject();
            commands.handle(QStringLiteral("clipboardget"), {}, this, reply);
            if (!QTest::qWaitFor([&answer] { return !answer.isEmpty(); }, 10000))
                answer.insert(QStringLiteral("error"), QStringLiteral("(no answer)"));
            return answer;
        };
        QCOMPARE(get().value(QStringLiteral("error")).toString(), QStringLiteral("readOff"));
        readAllowed = true;
        QTRY_COMPARE_WITH_TIMEOUT(get().value(QStringLiteral("text")).toString(),
                                  QStringLiteral("desktop text"), 5000);
        QCOMPARE(answer.value(QStringLiteral("ok")), QJsonValue(true));
    }
};

QTEST_GUILESS_MAIN(tst_ClipboardWayland)
#include "tst_clipboardwayland.moc"
