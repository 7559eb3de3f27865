// A small focused window with one text field, for the browser tests: it reports every
// change of its text on standard output ("TEXT:" and the text, one line each), so a test
// can see what the keyboard typed into the focused window.

#include <QApplication>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Velmora text window"));
    auto* field = new QLineEdit(&window);
    field->setObjectName(QStringLiteral("field"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    window.setGeometry(200, 200, 420, 80);

    QTextStream out(stdout);
    QObject::connect(field, &QLineEdit::textChanged, [&out](const QString& text) {
        out << "TEXT:" << text << '\n';
        out.flush();
    });

    window.show();
    window.raise();
    window.activateWindow();
    field->setFocus();
    // Ready once the window is mapped and can take the focus.
    QTimer::singleShot(200, [&out] {
        out << "READY\n";
        out.flush();
    });
    return app.exec();
}
