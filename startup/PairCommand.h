#pragma once

#include "startup/SingleInstance.h"

#include <QList>

class QTextStream;

// `velmora --pair` and `velmora --help`: what the program does when started from a terminal to
// ask rather than to run. Both run on a bare core application, without a display.

// What the command line asks for.
enum class CommandLineRequest
{
    Run,
    Pair,
    Send,
    Help,
};
CommandLineRequest commandLineRequest(int argc, const char* const* argv);

// The usage text of --help.
QString usageText();

// Asks the running copy behind `instance` for its pairing links and prints each with a QR code
// to `out`; problems go to `err`. Returns the exit code: 0 with links printed, 1 without.
int runPairCommand(SingleInstance& instance, QTextStream& out, QTextStream& err);

// `velmora --send FILE...`: asks the running copy behind `instance` to offer the files to the
// connected phone. Returns 0 when every file was offered, else 1 with the reason on `err`.
int runSendCommand(SingleInstance& instance, const QStringList& files, QTextStream& out, QTextStream& err);
// The files named after --send.
QStringList filesToSend(const QStringList& arguments);

// The running copy's answer: the web client's link with the pairing token on each connection
// address, the one the About page pre-selects first.
QList<PairingLink> currentPairingLinks();
