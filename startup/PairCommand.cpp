#include "startup/PairCommand.h"

#include "pairing/ConnectionAddresses.h"
#include "pairing/PairingToken.h"
#include "pairing/TerminalQrCode.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <cstring>

namespace {

// Labels come from adapter names; a terminal must not take any of their characters as commands.
QString printable(const QString& text)
{
    QString result;
    for (const QChar c : text)
        result += c.isPrint() ? c : QLatin1Char('?');
    return result;
}

} // namespace

CommandLineRequest commandLineRequest(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return CommandLineRequest::Help;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pair") == 0)
            return CommandLineRequest::Pair;
        if (std::strcmp(argv[i], "--send") == 0)
            return CommandLineRequest::Send;
    }
    return CommandLineRequest::Run;
}

QString usageText()
{
    return QCoreApplication::translate(
        "PairCommand", "Usage: velmora [--minimized | --pair | --send FILE... | --help] [Qt options]\n"
                       "\n"
                       "Starts Velmora in the system tray (or as a window where there is no tray); a second\n"
                       "start shows the running copy's window.\n"
                       "\n"
                       "  --minimized  start the window minimised where there is no tray\n"
                       "  --pair       print the running copy's pairing links with QR codes to scan with\n"
                       "               the phone, for a computer without a screen or over SSH\n"
                       "  --send FILE...  offer the files to the phone connected to the running copy\n"
                       "  --help       show this text\n");
}

int runPairCommand(SingleInstance& instance, QTextStream& out, QTextStream& err)
{
    QList<PairingLink> links;
    if (!instance.requestPairingLinks(&links)) {
        err << QCoreApplication::translate(
                   "PairCommand",
                   "Velmora is not running for this user. Start it first (for example with scripts/run), "
                   "then run velmora --pair again.")
            << '\n';
        err.flush();
        return 1;
    }
    if (links.isEmpty()) {
        err << QCoreApplication::translate(
                   "PairCommand",
                   "Velmora is running, but this computer has no network address a phone could reach.")
            << '\n';
        err.flush();
        return 1;
    }
    for (const PairingLink& link : qAsConst(links)) {
        const QString address = QUrl(link.url).host();
        out << QCoreApplication::translate(
                   "PairCommand", "Scan this code with the phone's camera to open Velmora on %1 (%2):")
                   .arg(printable(address), printable(link.label))
            << "\n\n"
            << terminalQrCode(link.url) << '\n'
            << printable(link.url) << "\n\n";
    }
    out << QCoreApplication::translate(
               "PairCommand", "The link holds the pairing code: whoever has it can control this computer. "
                              "New Pairing Code on the About page revokes it.")
        << '\n';
    out.flush();
    return 0;
}

QStringList filesToSend(const QStringList& arguments)
{
    const int at = arguments.indexOf(QStringLiteral("--send"));
    return at < 0 ? QStringList() : arguments.mid(at + 1);
}

int runSendCommand(SingleInstance& instance, const QStringList& files, QTextStream& out, QTextStream& err)
{
    const auto fail = [&err](const QString& reason) {
        err << reason << '\n';
        err.flush();
        return 1;
    };
    if (files.isEmpty())
        return fail(
            QCoreApplication::translate("PairCommand", "Name the files to send: velmora --send FILE..."));
    if (files.size() > SingleInstance::MaxOfferedFiles)
        return fail(QCoreApplication::translate("PairCommand", "At most %1 files can be sent at once.")
                        .arg(SingleInstance::MaxOfferedFiles));
    QStringList paths;
    for (const QString& file : files) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            return fail(
                QCoreApplication::translate("PairCommand", "Cannot read %1: it is not a readable file.")
                    .arg(printable(file)));
        paths << info.absoluteFilePath();
    }
    int offered = -1;
    if (!instance.requestFileOffer(paths, &offered))
        return fail(QCoreApplication::translate(
            "PairCommand",
            "Velmora is not running for this user. Start it first, then run velmora --send again."));
    if (offered == 0)
        return fail(QCoreApplication::translate(
            "PairCommand",
            "No phone is connected: open the web client or the phone app first, then send again."));
    out << QCoreApplication::translate("PairCommand", "Offered %n file(s) to the phone.", nullptr, offered)
        << '\n';
    out.flush();
    if (offered < paths.size())
        return fail(QCoreApplication::translate("PairCommand", "%1 of the files could not be offered.")
                        .arg(paths.size() - offered));
    return 0;
}

QList<PairingLink> currentPairingLinks()
{
    const ConnectionAddressList addresses =
        collectConnectionAddresses(systemNetworkAdapters(), systemAddresses());
    const QString preferred = preferredConnectionAddress(addresses);
    const QString token = PairingToken::shared()->token();
    QList<PairingLink> links;
    for (const ConnectionAddress& address : addresses) {
        const PairingLink link{webClientUrl(address.first, kWebClientPort, token), address.second};
        if (address.first == preferred)
            links.prepend(link);
        else
            links.append(link);
    }
    return links;
}
