#pragma once

// Shared by the media and launcher tests: files, a recording script, and a command server
// with fake shell and input backend that a loopback phone talks to.

#include "data/DataTestSupport.h"
#include "platform/InputBackendFake.h"
#include "platform/ShellFake.h"
#include "remote/Server.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

inline void writeFile(const QString& path, const QByteArray& bytes = "data")
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), qPrintable(path));
}

// An executable script writing its working directory and arguments, one a line, to `marker`;
// the rename makes the marker appear whole.
inline void writeRecorder(const QString& path, const QString& marker)
{
    const QByteArray m = marker.toUtf8();
    writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > '" + m + ".tmp' && mv '" + m + ".tmp' '" +
                        m + "'\n");
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner));
}

inline QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline QByteArray commandLine(const QString& command, const QJsonObject& params)
{
    return QJsonDocument(QJsonObject{{"command", command}, {"params", params}})
        .toJson(QJsonDocument::Compact);
}

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

    bool connectPhone()
    {
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        if (!m_server->start(0))
            return false;
        m_phone.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        return m_phone.waitForConnected(5000) && (connected.count() > 0 || connected.wait(5000));
    }
    // Sends one line; returns the first line received back (with its line feed).
    QByteArray ask(const QByteArray& line)
    {
        m_phone.write(line + '\n');
        for (int i = 0; i < 500 && !m_phone.canReadLine(); ++i)
            QTest::qWait(10);
        return m_phone.readLine();
    }
    // A command that gets no answer, run without the network.
    void run(const QByteArray& line) { m_server->handleMessage(line); }

private:
    std::unique_ptr<Server> m_server;
    ShellFake* m_shell = nullptr;
    InputBackendFake* m_input = nullptr;
    QTcpSocket m_phone;
};
