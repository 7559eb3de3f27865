// A window with one text field for the browser tests: every change of its text goes to standard
// output as one "TEXT:" line, so a test can see what the phone typed into the focused window.

#include <QApplication>
#include <QLineEdit>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLineEdit field;
    field.setWindowTitle(QStringLiteral("Velmora text window"));
    field.setGeometry(200, 200, 420, 40);
    QTextStream out(stdout);
    QObject::connect(&field, &QLineEdit::textChanged, [&out](const QString& text) {
        out << "TEXT:" << text << '\n' << Qt::flush;
    });
    field.show();
    return app.exec();
}
