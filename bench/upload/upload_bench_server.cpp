// Runs the HTTP server with its upload route into a given folder and prints `tickets` upload
// tickets for 127.0.0.1, one a line, so that curl can send files as the paired page would.
//   upload_bench_server <port> <folder> <tickets>

#include "web/FileTransfer.h"
#include "web/HttpServer.h"
#include "web/UploadRoute.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool portOk = false, countOk = false;
    const quint16 port = arguments.size() == 4 ? arguments.at(1).toUShort(&portOk) : 0;
    const int tickets = arguments.size() == 4 ? arguments.at(3).toInt(&countOk) : 0;
    if (!portOk || !countOk || tickets < 1 || tickets > FileTransfer::MaxTickets) {
        QTextStream(stderr) << "usage: upload_bench_server <port> <folder> <tickets, 1 to 64>\n";
        return 2;
    }
    FileTransfer transfer;
    transfer.setFolder(arguments.at(2));
    // Tickets are good for a minute; the bench may take longer between them.
    qint64 now = 0;
    transfer.setClock([&now] { return now; });
    HttpServer server;
    server.addRoute(std::make_unique<UploadRoute>(&transfer));
    if (!server.start(port)) {
        QTextStream(stderr) << "cannot listen on port " << port << "\n";
        return 1;
    }
    QTextStream out(stdout);
    for (int i = 0; i < tickets; ++i)
        out << transfer.issueTicket(QHostAddress::LocalHost) << "\n";
    out.flush();
    return QCoreApplication::exec();
}
