#include "RemoteTestSupport.h"

#include "platform/input/InputBackendX11.h"
#include "support/XTermSink.h"

#include <QCursor>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
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
        if (!XTermSink::available())
            QSKIP("needs xterm");
        XTermSink terminal;
        QVERIFY(terminal.start());
        moveTo(terminal.center());
        bool ready = false; // it takes keys once it is mapped under the pointer
        for (int attempt = 0; attempt < 40 && !ready; ++attempt) {
            type(QStringLiteral("."));
            ready = XTermSink::spinUntil([&] { return terminal.size() > 0; }, 250);
        }
        QVERIFY(ready);
        terminal.clear();
        QString text;
        for (int i = 0; i < 3000; ++i) {
            text += i % 79 == 78 ? QChar('\n') : QChar(0x21 + (i * 7) % 94);
            if (i % 5 == 0) // six distinct: fewer than the test display's spare keycodes
                text += QChar(char16_t(i % 2 ? 0x4E00 + i % 6 : 0xE0 + i % 6));
        }
        type(text);
        const QByteArray expected = XTermSink::expectedBytes(text);
        QTRY_COMPARE_WITH_TIMEOUT(terminal.size(), qint64(expected.size()), 60000);
        QTest::qWait(200); // nothing late or extra
        QCOMPARE(terminal.contents(), expected);
    }
};

QTEST_MAIN(tst_InputX11)
#include "tst_inputx11.moc"
