#include "RemoteTestSupport.h"

#include "platform/InputBackendX11.h"
#include "remote/Server.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

// Protocol messages over TCP drive the real X pointer and keyboard of the test display.
class tst_InputX11 : public QObject
{
    Q_OBJECT

private:
    Server* m_server = nullptr;
    Phone m_phone;
    QWidget m_window;
    QLineEdit* m_line = nullptr;
    QPlainTextEdit* m_text = nullptr;
    QPushButton* m_button = nullptr;
    QStringList m_keys;

    void send(const QByteArray& message) { m_phone.send(message + '\n'); }
    void moveTo(const QPoint& p)
    {
        send(QByteArray(R"({"command":"mousemove","params":{"absolute":true,"dx":)") +
             QByteArray::number(p.x()) + ",\"dy\":" + QByteArray::number(p.y()) + "}}");
    }
    void focus(QWidget* widget)
    {
        // Without a window manager the keyboard may follow the pointer: put it there too.
        moveTo(widget->mapToGlobal(widget->rect().center()));
        widget->activateWindow();
        widget->setFocus();
        QTRY_VERIFY(widget->hasFocus());
    }

public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool ctrl = (key->modifiers() & Qt::ControlModifier) != 0;
            m_keys << QStringLiteral("%1 %2%3")
                          .arg(event->type() == QEvent::KeyPress ? QStringLiteral("down")
                                                                 : QStringLiteral("up"))
                          .arg(key->key() == Qt::Key_Control ? QStringLiteral("Ctrl")
                                                             : QKeySequence(key->key()).toString())
                          .arg(ctrl && key->key() != Qt::Key_Control ? QStringLiteral("+ctrl") : QString());
        }
        return QObject::eventFilter(watched, event);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        auto backend = InputBackendX11::open();
        QVERIFY(backend != nullptr);
        m_server = new Server(std::move(backend), this);
        QVERIFY(m_server->start(0));
        QVERIFY(m_phone.connectTo(m_server->serverPort()));

        auto* layout = new QVBoxLayout(&m_window);
        m_line = new QLineEdit;
        m_text = new QPlainTextEdit;
        m_button = new QPushButton(QStringLiteral("Press"));
        layout->addWidget(m_line);
        layout->addWidget(m_text);
        layout->addWidget(m_button);
        m_line->installEventFilter(this);
        m_window.setGeometry(200, 150, 400, 300);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    }

    void pointerMoves()
    {
        moveTo(QPoint(300, 200));
        QTRY_COMPARE(QCursor::pos(), QPoint(300, 200));
        moveTo(QPoint(1919, 1079));
        QTRY_COMPARE(QCursor::pos(), QPoint(1919, 1079));
        send(R"({"command":"mousemove","params":{"dx":-19,"dy":-79}})");
        QTRY_COMPARE(QCursor::pos(), QPoint(1900, 1000));
    }

    void buttonClick()
    {
        QSignalSpy clicked(m_button, &QPushButton::clicked);
        moveTo(m_button->mapToGlobal(m_button->rect().center()));
        send(R"({"command":"mouseclick","params":{"button":"left"}})");
        QTRY_COMPARE(clicked.count(), 1);
    }

    void typesMixedText()
    {
        focus(m_line);
        const QString text = QString::fromUtf8("Az9 ,é€ß中文😀!");
        send(QByteArray(R"({"command":"keyinput","params":{"text":")") + text.toUtf8() + "\"}}");
        QTRY_COMPARE(m_line->text(), text);
    }

    void keyCombination()
    {
        focus(m_line);
        m_keys.clear();
        send(R"({"command":"keyinput","params":{"keycodes":[17,65]}})"); // Ctrl+A selects all
        QTRY_COMPARE(m_keys.size(), 4);
        QCOMPARE(m_keys, (QStringList{QStringLiteral("down Ctrl"), QStringLiteral("down A+ctrl"),
                                      QStringLiteral("up A+ctrl"), QStringLiteral("up Ctrl")}));
        QTRY_COMPARE(m_line->selectedText(), m_line->text());
        send(R"({"command":"keyinput","params":{"keycodes":[46]}})"); // Delete
        QTRY_VERIFY(m_line->text().isEmpty());
    }

    void lineBreaks()
    {
        focus(m_text);
        send(R"({"command":"keyinput","params":{"text":"one\r\ntwo\nthree\tx\bend"}})");
        QTRY_COMPARE(m_text->toPlainText(), QStringLiteral("one\ntwo\nthree\tend"));
    }
};

QTEST_MAIN(tst_InputX11)
#include "tst_inputx11.moc"
