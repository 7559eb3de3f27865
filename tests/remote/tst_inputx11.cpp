#include "RemoteTestSupport.h"

#include "platform/input/InputBackendX11.h"
#include "support/GtkTextField.h"
#include "support/TerminalSink.h"
#include "support/ToolRun.h"

#include <QCursor>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QVBoxLayout>

// Protocol messages over TCP drive the real X pointer and keyboard of the test display.
class tst_InputX11 : public QObject
{
    Q_OBJECT

private:
    Phone m_phone;
    QWidget m_window;
    QLineEdit* m_line = nullptr;
    QPushButton* m_button = nullptr;
    QStringList m_keys; // key events of the line edit, "+A" for a press, "-A" for a release

    void send(const QByteArray& message) { m_phone.send(message + '\n'); }
    void moveTo(const QPoint& p)
    {
        send(R"({"command":"mousemove","params":{"absolute":true,"dx":)" + QByteArray::number(p.x()) +
             ",\"dy\":" + QByteArray::number(p.y()) + "}}");
    }

    void type(const QString& text)
    {
        const QJsonObject command{{QStringLiteral("command"), QStringLiteral("keyinput")},
                                  {QStringLiteral("params"), QJsonObject{{QStringLiteral("text"), text}}}};
        send(QJsonDocument(command).toJson(QJsonDocument::Compact));
    }

    // Starts the terminal and waits until it takes keys (once mapped under the pointer).
    bool takesKeys(TerminalSink& terminal)
    {
        if (!terminal.start())
            return false;
        moveTo(terminal.center());
        bool ready = false;
        for (int attempt = 0; attempt < 40 && !ready; ++attempt) {
            type(QStringLiteral("."));
            ready = TerminalSink::spinUntil([&] { return terminal.size() > 0; }, 250);
        }
        terminal.clear();
        return ready;
    }

    // xclip on one X selection ("clipboard", "primary"), without blocking our event loop,
    // which answers it when we own the selection.
    static QByteArray xclip(const QString& selection, const QStringList& arguments,
                            const QByteArray& input = QByteArray())
    {
        return runTool(QStringLiteral("xclip"),
                       QStringList{QStringLiteral("-selection"), selection} + arguments, input);
    }

    // The user's own: a picture on the clipboard, a text in the primary selection.
    static QByteArray picture() { return QByteArray("\x89PNG\r\n\x1a\n not really a picture", 30); }
    static void ownSelections()
    {
        xclip(QStringLiteral("clipboard"),
              {QStringLiteral("-i"), QStringLiteral("-t"), QStringLiteral("image/png")}, picture());
        xclip(QStringLiteral("primary"), {QStringLiteral("-i")}, "the user's selection");
    }
    static bool selectionsAreTheUsers()
    {
        return xclip(QStringLiteral("clipboard"), {QStringLiteral("-o"), QStringLiteral("-t"),
                                                   QStringLiteral("image/png")}) == picture() &&
               xclip(QStringLiteral("primary"), {QStringLiteral("-o")}) == "the user's selection";
    }

public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            m_keys << QLatin1String(event->type() == QEvent::KeyPress ? "+" : "-") +
                          (key == Qt::Key_Control ? QStringLiteral("Ctrl") : QKeySequence(key).toString());
        }
        return QObject::eventFilter(watched, event);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display");
        qRegisterMetaType<QProcess::ExitStatus>();
        auto* server = new Server(InputBackendX11::open(), this);
        QVERIFY(server->start(0) && m_phone.attach(*server));
        auto* layout = new QVBoxLayout(&m_window);
        layout->addWidget(m_line = new QLineEdit);
        layout->addWidget(m_button = new QPushButton(QStringLiteral("Press")));
        m_line->installEventFilter(this);
        m_window.setGeometry(200, 150, 400, 300);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    }

    void pointerMovesAndClicks()
    {
        moveTo(QPoint(1919, 1079));
        QTRY_COMPARE(QCursor::pos(), QPoint(1919, 1079));
        QSignalSpy clicked(m_button, &QPushButton::clicked);
        moveTo(m_button->mapToGlobal(m_button->rect().center()));
        send(R"({"command":"mouseclick"})");
        QTRY_COMPARE(clicked.count(), 1);
    }

    void typesTextAndKeys()
    {
        // Without a window manager the keyboard may follow the pointer: put it there too.
        moveTo(m_line->mapToGlobal(m_line->rect().center()));
        m_line->activateWindow();
        m_line->setFocus();
        QTRY_VERIFY(m_line->hasFocus());
        // A backspace takes the x back, and CR LF is one Return.
        const QString text = QString::fromUtf8("Az9 ,é€ß中文😀!");
        send("{\"command\":\"keyinput\",\"params\":{\"text\":\"" + text.toUtf8() + "x\\b\\r\\n\"}}");
        QTRY_COMPARE(m_keys.value(m_keys.size() - 1), QStringLiteral("-Return"));
        QCOMPARE(m_keys.count(QStringLiteral("+Return")), 1);
        QCOMPARE(m_line->text(), text);
        m_keys.clear();
        send(R"({"command":"keyinput","params":{"keycodes":[17,65]}})"); // Ctrl+A selects all
        QTRY_COMPARE(m_keys.join(' '), QStringLiteral("+Ctrl +A -A -Ctrl"));
        QTRY_COMPARE(m_line->selectedText(), text);
    }

    // The phone's Present view: next and previous slide, start and end of the show, black screen.
    void presenterKeysArrive()
    {
        moveTo(m_line->mapToGlobal(m_line->rect().center()));
        m_line->activateWindow();
        m_line->setFocus();
        QTRY_VERIFY(m_line->hasFocus());
        m_keys.clear();
        for (int code : {34, 33, 116, 66, 27})
            send(R"({"command":"keyinput","params":{"keycodes":[)" + QByteArray::number(code) + "]}}");
        QTRY_COMPARE(m_keys.join(' '), QStringLiteral("+PgDown -PgDown +PgUp -PgUp +F5 -F5 +B -B +Esc -Esc"));
    }

    // A long text reaches a real terminal exactly and unpaced: every printable ASCII character,
    // shifted or not, Returns, and characters off the layout, typed through spare keys.
    void typesLongTextIntoATerminal()
    {
        if (!TerminalSink::available())
            QSKIP("needs xterm");
        TerminalSink terminal;
        QVERIFY(takesKeys(terminal));
        QString text;
        for (int i = 0; i < 3000; ++i) {
            text += i % 79 == 78 ? QChar('\n') : QChar(0x21 + (i * 7) % 94);
            if (i % 5 == 0) // six distinct: fewer than the test display's spare keycodes
                text += QChar(char16_t(i % 2 ? 0x4E00 + i % 6 : 0xE0 + i % 6));
        }
        type(text);
        const QByteArray expected = TerminalSink::expectedBytes(text);
        QTRY_COMPARE_WITH_TIMEOUT(terminal.size(), qint64(expected.size()), 60000);
        QTest::qWait(200); // nothing late or extra
        QCOMPARE(terminal.contents(), expected);
    }

    // Characters off the layout reach a real GTK text field and a real terminal exactly and in
    // order, through spare keys or pasted (GTK pastes the clipboard, xterm the primary
    // selection), and both selections hold the user's own again afterwards.
    void typesEveryCharacterIntoGtkAndATerminal()
    {
        if (!TerminalSink::available() || !GtkTextField::available() ||
            QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            QSKIP("needs xterm, xdotool, xclip and GTK's Python binding");
        const QString hello = QString::fromUtf8("Hello, w\u00f6rld \u4e16\u754c \U0001F600\n");
        const QString mixed = GtkTextField::mixedText();
        ownSelections();
        {
            GtkTextField field(QStringLiteral("x11"));
            QTRY_VERIFY_WITH_TIMEOUT(field.isReady(), 20000);
            QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--sync"),
                                        QStringLiteral("--name"),
                                        QLatin1Char('^') + field.title() + QLatin1Char('$'),
                                        QStringLiteral("windowfocus"), QStringLiteral("--sync")}),
                     0);
            moveTo(QPoint(400, 560));
            type(hello);
            QTRY_COMPARE_WITH_TIMEOUT(field.text(), hello, 10000);
            type(mixed);
            QTRY_COMPARE_WITH_TIMEOUT(field.text(), hello + mixed, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(selectionsAreTheUsers(), 5000);
        }
        TerminalSink terminal;
        QVERIFY(takesKeys(terminal));
        type(hello + mixed);
        const QByteArray expected = TerminalSink::expectedBytes(hello + mixed);
        QTRY_VERIFY_WITH_TIMEOUT(terminal.size() >= expected.size(), 20000);
        QCOMPARE(terminal.contents(), expected);
        QTRY_VERIFY_WITH_TIMEOUT(selectionsAreTheUsers(), 5000);
    }
};

QTEST_MAIN(tst_InputX11)
#include "tst_inputx11.moc"
