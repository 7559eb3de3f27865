// Saves a rectangle of the screen as PNG:
//   velmora_grabscreen <file.png> <x> <y> <width> <height>
// scripts/screenshots uses it for a terminal window on its virtual display.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <file.png> <x> <y> <width> <height>\n", argv[0]);
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    const QPixmap picture = screen->grabWindow(
        0, QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt(),
        QString::fromLocal8Bit(argv[4]).toInt(), QString::fromLocal8Bit(argv[5]).toInt());
    // Highest compression: the pictures live in the repository.
    return picture.save(QString::fromLocal8Bit(argv[1]), "PNG", 0) ? 0 : 1;
}
