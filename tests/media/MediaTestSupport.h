#pragma once

// A command server with recording fakes for the shell and the input backend, a phone on
// loopback TCP, and live databases in temporary folders for the cached services.

#include "data/DataTestSupport.h"
#include "platform/InputBackendFake.h"
#include "platform/ShellFake.h"
#include "remote/Server.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

class CommandRig
{
public:
    explicit CommandRig(bool fakeShell = true)
    {
        auto input = std::make_unique<InputBackendFake>();
        m_input = input.get();
        m_server = std::make_unique<Server>(std::move(input), nullptr);
        if (fakeShell) {
            auto shell = std::make_unique<ShellFake>();
            m_shell = shell.get();
            m_server->setShell(std::move(shell));
        }
    }

    Server& server() { return *m_server; }
    ShellFake& shell() { return *m_shell; }
    InputBackendFake& input() { return *m_input; }

    // Starts listening on a free port and connects the phone; false when either fails.
    bool connectPhone()
    {
        if (!m_server->start(0))
            return false;
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        m_phone.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        if (!m_phone.waitForConnected(5000))
            return false;
        return connected.count() > 0 || connected.wait(5000);
    }

    // Sends one command line and returns the first line the phone receives back (with its
    // line feed), or nothing after five seconds.
    QByteArray ask(const QByteArray& line)
    {
        m_phone.write(line + '\n');
        m_phone.flush();
        QElapsedTimer timer;
        timer.start();
        while (!m_phone.canReadLine() && timer.elapsed() < 5000)
            QTest::qWait(5);
        return m_phone.canReadLine() ? m_phone.readLine() : QByteArray();
    }

    // Bytes that arrived beyond the lines already read, after giving stragglers a moment.
    qint64 unreadBytes()
    {
        QTest::qWait(50);
        return m_phone.bytesAvailable();
    }

    // Runs a command the server does not answer, without a phone.
    void run(const QByteArray& line) { m_server->handleMessage(line); }

private:
    std::unique_ptr<Server> m_server;
    ShellFake* m_shell = nullptr;
    InputBackendFake* m_input = nullptr;
    QTcpSocket m_phone;
};

// The compact one-line reply the server must send for `command` with `body`.
inline QByteArray expectedReply(const QString& command, const QJsonObject& body)
{
    QJsonObject envelope;
    envelope.insert(QStringLiteral("command"), command);
    envelope.insert(QStringLiteral("params"), body);
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact) + '\n';
}

inline QByteArray commandLine(const QString& command, const QJsonObject& params)
{
    QJsonObject envelope;
    envelope.insert(QStringLiteral("command"), command);
    envelope.insert(QStringLiteral("params"), params);
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

inline QByteArray pathCommand(const QString& command, const QString& path)
{
    return commandLine(command, QJsonObject{{QStringLiteral("path"), path}});
}
