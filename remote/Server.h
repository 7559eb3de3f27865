#pragma once

#include "remote/LineFramer.h"

#include <QAbstractSocket>
#include <QObject>

#include <memory>

class InputBackend;
class InputSimulator;
class Shell;
class QJsonObject;
class QTcpServer;
class QTcpSocket;

// The phone's way into the PC: listens for one phone at a time, reads one JSON command per
// line and runs it. Only the two listing commands are answered.
class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(QObject* parent = nullptr);
    // With a chosen input backend instead of the system's (tests, benchmarks).
    Server(std::unique_ptr<InputBackend> backend, QObject* parent);
    ~Server() override;

    bool start(quint16 port);
    void stop();
    bool isListening() const;
    // The port actually bound (useful after start(0)); 0 when not listening.
    quint16 serverPort() const;

    // Runs one message: parses it, then dispatches it or logs it as invalid. Every
    // transport feeds its messages through here.
    void handleMessage(const QByteArray& line);
    // Runs one parsed command.
    void handleCommand(const QJsonObject& object);

    InputSimulator* inputSimulator() const { return m_inputSimulator; }
    // Replaces the desktop shell that opens media and starts applications (tests).
    void setShell(std::unique_ptr<Shell> shell);

signals:
    void statusChanged(bool running);
    void clientConnected(QString clientInfo);
    void clientDisconnected();
    void logMessage(QString message);

private slots:
    void onNewConnection();
    void onSocketReadyRead();
    void onSocketDisconnected();
    void onSocketError(QAbstractSocket::SocketError socketError);

private:
    friend class tst_Server;

    void closeClientConnection();
    // Handles the complete lines of the current phone, reading more as needed.
    // With `final`, the phone has gone: what the time budget leaves is dropped.
    void processInput(QTcpSocket* socket, bool final = false);
    void scheduleProcessing();
    void dropOversizedLine();
    // Builds a reply envelope and writes it as one line.
    void sendReply(const QString& command, const QJsonObject& body);
    // The one path of every reply to the current phone.
    void writeReply(const QByteArray& line);

    void handleMouseClick(const QJsonObject& params);
    void handleMouseDown(const QJsonObject& params);
    void handleMouseUp(const QJsonObject& params);
    void handleKeyInput(const QJsonObject& params);
    void handleMediaExplore(const QJsonObject& params);
    void handleMediaOpen(const QJsonObject& params);
    void handleAppExplore(const QJsonObject& params);
    void handleAppOpen(const QJsonObject& params);
    void handleCloseWindow();
    // The desktop shell; the system's own unless one was set.
    Shell* shell();

    QTcpServer* m_server = nullptr;
    QTcpSocket* m_clientSocket = nullptr;
    InputSimulator* m_inputSimulator = nullptr;
    std::unique_ptr<Shell> m_shell;
    LineFramer m_buffer;
    int m_port = 0;
    bool m_processing = false;
    bool m_continueScheduled = false;
};
