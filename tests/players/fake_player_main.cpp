// A stand-in media player for the browser tests: publishes one MPRIS player on the session bus
// with a track playing and appends every request it gets to a log file, one a line.
//   velmora_fakeplayer <log file> <title> <artist> <length in seconds> [<cover picture>]

#include "FakeMprisPlayer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QUrl>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5 && args.size() != 6) {
        QTextStream(stderr) << "usage: velmora_fakeplayer <log file> <title> <artist> <length> [<cover>]\n";
        return 2;
    }
    FakeMprisPlayer player(QDBusConnection::sessionBus(), QStringLiteral("velmorafake"),
                           QStringLiteral("Fake Player"));
    if (!player.isPublished()) {
        QTextStream(stderr) << "velmora_fakeplayer: cannot publish the player on the session bus\n";
        return 1;
    }
    const QString cover = args.size() == 6 ? QUrl::fromLocalFile(args.at(5)).toString() : QString();
    player.setTrack(args.at(2), args.at(3), args.at(4).toDouble(), cover);
    player.setPlaybackStatus(QStringLiteral("Playing"));
    QObject::connect(&player, &FakeMprisPlayer::called, &app, [&args](const QString& call) {
        QFile log(args.at(1));
        if (log.open(QIODevice::Append | QIODevice::Text))
            log.write(call.toUtf8() + '\n');
    });
    return app.exec();
}
