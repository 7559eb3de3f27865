// The clipboard on a wlroots compositor through data control, against wl-clipboard as the
// other program, while a window of another client (the probe) has the keyboard focus.
#include "platform/ClipboardWlroots.h"
#include "platform/InputBackendWlroots.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <optional>

class tst_ClipboardWayland : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ClipboardWlroots> m_clipboard;
    std::unique_ptr<InputBackendWlroots> m_keyboard; // the headless seat's only keyboard
    QProcess m_probe;
    QStringList m_events;

    // Runs a wl-clipboard tool without blocking our event loop, which serves our own text.
    QByteArray run(const QString& tool, const QStringList& arguments, const QByteArray& input = QByteArray())
    {
        QProcess process;
        QSignalSpy finished(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        process.start(tool, arguments);
        if (!process.waitForStarted(5000))
            return "(did not start)";
        process.write(input);
        process.closeWriteChannel();
        if (!finished.wait(10000))
            return "(did not finish)";
        return process.readAllStandardOutput();
    }
    void copyElsewhere(const QByteArray& bytes,
                       const QString& type = QStringLiteral("text/plain;charset=utf-8"))
    {
        run(QStringLiteral("wl-copy"), {QStringLiteral("--type"), type}, bytes);
        // wl-copy has handed its text to the compositor once the new selection reaches us.
        QTest::qWait(200);
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
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
            qEnvironmentVariableIsEmpty("VELMORA_TEST_SWAY"))
            QSKIP("needs the headless sway of scripts/test.d/wayland");
        if (QStandardPaths::findExecutable(QStringLiteral("wl-copy")).isEmpty())
            QSKIP("needs wl-clipboard (see scripts/packages.txt)");
        m_clipboard = ClipboardWlroots::open();
        QVERIFY2(m_clipboard != nullptr, "the compositor offers no data control");
        // A seat without a keyboard gives no window the focus: the virtual one is it.
        m_keyboard = InputBackendWlroots::open();
        QVERIFY(m_keyboard != nullptr);
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
        QCOMPARE(QString::fromUtf8(run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")})), text);
        ClipboardRead own = read(); // and read back from ourselves
        QCOMPARE(own.text, text);
        const QString large(1024 * 1024, QLatin1Char('y')); // more than a pipe holds at once
        QVERIFY(m_clipboard->setText(large));
        QCOMPARE(run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}).size(), large.size());
    }

    void textCopiedElsewhereIsRead()
    {
        copyElsewhere(QString::fromUtf8("from the PC ü").toUtf8());
        ClipboardRead r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text, QString::fromUtf8("from the PC ü"));

        copyElsewhere("caf\xe9 \xff");
        QCOMPARE(read().result, ClipboardRead::Result::BadEncoding);

        run(QStringLiteral("wl-copy"), {QStringLiteral("--clear")});
        QTest::qWait(200);
        r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text, QString());

        copyElsewhere(QByteArray(1024 * 1024, 'x'));
        QCOMPARE(read().text.size(), 1024 * 1024);
        copyElsewhere(QByteArray(1024 * 1024 + 1, 'x'));
        QCOMPARE(read().result, ClipboardRead::Result::TooLarge);

        copyElsewhere(QByteArray("\x89PNG\r\n\x1a\n", 8), QStringLiteral("image/png"));
        QCOMPARE(read().result, ClipboardRead::Result::NotText);
    }
};

QTEST_GUILESS_MAIN(tst_ClipboardWayland)
#include "tst_clipboardwayland.moc"
