// Runs only the HTTP server, over the "mobile" folder of a given directory, so that load
// generators can be pointed at it without the rest of the program.
//   http_bench_server <port> <directory holding "mobile">

#include "web/HttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool ok = false;
    const quint16 port = arguments.size() == 3 ? arguments.at(1).toUShort(&ok) : 0;
    if (!ok || !QDir(arguments.at(2)).exists(QStringLiteral("mobile"))) {
        QTextStream(stderr) << "usage: http_bench_server <port> <directory holding mobile>\n";
        return 2;
    }
    HttpServer server;
    server.setClientFolders({arguments.at(2) + QStringLiteral("/mobile")});
    if (!server.start(port)) {
        QTextStream(stderr) << "cannot listen on port " << port << "\n";
        return 1;
    }
    QTextStream(stdout) << "listening on " << server.port() << Qt::endl;
    return QCoreApplication::exec();
}
