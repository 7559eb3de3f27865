// The clipboard on X11 against xclip as the other program, while another window (an xterm)
// has the focus: what we put there is pasted elsewhere, and what others copy is read back,
// with broken, empty, oversized and non-text contents told apart.
#include "platform/clipboard/ClipboardQt.h"
#include "support/ToolRun.h"

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

class tst_ClipboardX11 : public QObject
{
    Q_OBJECT

private:
    ClipboardQt m_clipboard;
    QProcess m_xterm;

    // Runs xclip without blocking our event loop, which answers it when we own the clipboard.
    QByteArray xclip(const QStringList& arguments, const QByteArray& input = QByteArray())
    {
        return runTool(QStringLiteral("xclip"),
                       QStringList{QStringLiteral("-selection"), QStringLiteral("clipboard")} + arguments,
                       input);
    }
    // Returns once the new owner has taken the clipboard (xclip serves it from a child).
    void copyElsewhere(const QByteArray& bytes, const char* type = "UTF8_STRING")
    {
        QSignalSpy changed(QGuiApplication::clipboard(), &QClipboard::dataChanged);
        xclip({QStringLiteral("-i"), QStringLiteral("-t"), QString::fromLatin1(type)}, bytes);
        QVERIFY(changed.count() > 0 || changed.wait(5000));
    }
    ClipboardRead read()
    {
        ClipboardRead result;
        m_clipboard.readText(1024 * 1024, [&result](const ClipboardRead& r) { result = r; });
        return result;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display");
        for (const char* tool : {"xclip", "xterm", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("needs xclip, xterm and xdotool (see scripts/packages.txt)");
        }
        m_xterm.start(QStringLiteral("xterm"),
                      {QStringLiteral("-title"), QStringLiteral("velmora-clipboard-focus")});
        QVERIFY(m_xterm.waitForStarted(5000));
        // Without a window manager the focus is given directly, once the window is mapped.
        const auto focusedName = [] {
            QProcess xdotool;
            xdotool.start(QStringLiteral("xdotool"), {"search", "--sync", "--name", "velmora-clipboard-focus",
                                                      "windowfocus", "getwindowfocus", "getwindowname"});
            xdotool.waitForFinished(15000);
            return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
        };
        QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("velmora-clipboard-focus"), 20000);
    }

    void cleanupTestCase()
    {
        m_clipboard.setText(QString()); // the last xclip gives up the selection and ends
        m_xterm.kill();
        m_xterm.waitForFinished(5000);
    }

    void ourTextIsPastedElsewhere()
    {
        const QString text = QString::fromUtf8("from the phone é中😀\nline two");
        QVERIFY(m_clipboard.setText(text));
        QCOMPARE(QString::fromUtf8(xclip({QStringLiteral("-o")})), text);
    }

    void textCopiedElsewhereIsRead()
    {
        copyElsewhere(QString::fromUtf8("from the PC ü").toUtf8());
        ClipboardRead r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text, QString::fromUtf8("from the PC ü"));

        copyElsewhere("caf\xe9 \xff"); // Latin-1 bytes offered as UTF-8
        QCOMPARE(read().result, ClipboardRead::Result::BadEncoding);

        copyElsewhere(QByteArray());
        r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text, QString());

        copyElsewhere(QByteArray(1024 * 1024, 'x')); // arrives in increments
        r = read();
        QCOMPARE(r.result, ClipboardRead::Result::Text);
        QCOMPARE(r.text.size(), 1024 * 1024);
        copyElsewhere(QByteArray(1024 * 1024 + 1, 'x'));
        QCOMPARE(read().result, ClipboardRead::Result::TooLarge);

        copyElsewhere(QByteArray("\x89PNG\r\n\x1a\n", 8), "image/png");
        QCOMPARE(read().result, ClipboardRead::Result::NotText);
    }
};

QTEST_MAIN(tst_ClipboardX11)
#include "tst_clipboardx11.moc"
