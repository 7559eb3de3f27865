#include "remote/Server.h"

#include "platform/InputBackend.h"
#include "platform/Shell.h"
#include "platform/SocketOwner.h"
#include "remote/ClipboardCommands.h"
#include "remote/InputSimulator.h"
#include "remote/JsonKeyCheck.h"
#include "remote/LocalNetwork.h"
#include "remote/PhoneLink.h"
#include "remote/ProtocolGuard.h"
#include "remote/VolumeCommands.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalBlocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Bytes Qt may hold unread per phone; beyond it the phone waits (TCP flow control) until
// we have caught up, so a fast sender cannot grow our memory.
constexpr qint64 kSocketReadBufferBytes = 256 * 1024;
// Messages are handled one after the other, but after this long the event loop gets a turn
// before the next one, so a flood of clicks cannot freeze the window.
constexpr int kProcessingSliceMs = 100;
// Messages of a browser phone waiting to run, in bytes; a phone that gets this far ahead of
// the input it drives is cut off rather than allowed to grow our memory.
constexpr qint64 kWebQueueBytes = 1024 * 1024;
// Complete messages of phones that have gone, waiting to run. One phone leaves at most a
// line's limit plus the socket's read buffer behind; this holds a few of them, so phones
// reconnecting while a long text is typed cannot grow our memory.
constexpr qint64 kLeftoverBytes = 4 * 1024 * 1024;

} // namespace

QString Server::httpRefusal(const QHostAddress& peer)
{
    return QStringLiteral("Connection closed, it speaks HTTP, not the phone protocol: ") +
           peerAddressKey(peer);
}

std::optional<QJsonObject> Server::parseCommand(const QByteArray& line)
{
    if (hasDuplicateJsonKeys(line))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (document.isNull() || !document.isObject())
        return std::nullopt;
    return document.object();
}

Server::Server(QObject* parent)
    : Server(createInputBackend(), parent)
{
}

Server::Server(std::unique_ptr<InputBackend> backend, QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_inputSimulator(new InputSimulator(std::move(backend), this))
{
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    connect(m_server, &QTcpServer::newConnection, this, &Server::onNewConnection);
}

Server::~Server()
{
    stop();
    endTyping();
    m_inputSimulator->releaseHeldButtons();
    // The link's signals must not reach a half-destroyed server.
    if (m_mediaPlayers)
        m_mediaPlayers->disconnect(this);
}

bool Server::start(quint16 port)
{
    if (m_server->isListening())
        return true;
    closeClientConnection();
    if (!m_server->listen(QHostAddress::Any, port)) {
        qDebug().noquote() << "服务器启动失败:" << m_server->errorString();
        return false;
    }
    qDebug() << "服务器已启动，监听端口:" << port;
    m_port = port;
    emit statusChanged(true);
    return true;
}

void Server::stop()
{
    if (!m_server->isListening())
        return;
    m_server->close();
    qDebug() << "服务器已停止";
    dropWaitingPhone();
    closeClientConnection();
    // Stopped means no more input, including what phones left behind, and nothing held.
    m_leftover.clear();
    m_leftoverBytes = 0;
    m_leftoverRun = m_leftoverQueued;
    m_afterText.reset();
    endTyping();
    m_releaseAfter.clear();
    m_inputSimulator->releaseHeldButtons();
    emit statusChanged(false);
}

bool Server::isListening() const
{
    return m_server->isListening();
}

quint16 Server::serverPort() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

void Server::onNewConnection()
{
    // Take the newcomer first: a signal without a pending connection must not cost the
    // current phone its connection.
    QTcpSocket* socket = m_server->nextPendingConnection();
    if (socket == nullptr || !admitNewcomer(socket))
        return;
    takePhone(socket);
}

void Server::takePhone(QTcpSocket* socket)
{
    displaceCurrentPhone(socket->peerAddress());
    m_clientSocket = socket;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->setReadBufferSize(kSocketReadBufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, &Server::onSocketReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &Server::onSocketDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &Server::onSocketError);
    announcePhone(socket->peerAddress(), socket->peerPort());
}

QObject* Server::currentPhone() const
{
    if (m_clientSocket != nullptr)
        return m_clientSocket;
    return m_webSocket;
}

void Server::displaceCurrentPhone(const QHostAddress& newcomer)
{
    endTyping(); // a phone taking over is the way to stop a runaway text
    if (hasPhone()) {
        const QString text = QStringLiteral("接收到新连接请求，关闭旧连接并接受新连接");
        qDebug().noquote() << text;
        emit logMessage(text);
        emit clientDisconnected();
        // What it sent before the newcomer arrived still runs, ahead of the newcomer's.
        keepInputOfLeavingPhone();
        closeClientConnection(CloseReplaced);
        phoneLeft();
    }
    qDebug().noquote() << "新客户端连接: " << newcomer.toString();
}

void Server::announcePhone(const QHostAddress& address, quint16 port)
{
    const QString clientInfo = address.toString() + QLatin1Char(':') + QString::number(port);
    emit clientConnected(clientInfo);
    emit logMessage(QStringLiteral("客户端已连接: ") + clientInfo);
}

void Server::announcePhoneGone()
{
    emit clientDisconnected();
    emit logMessage(QStringLiteral("客户端已断开连接"));
}

PhoneLink* Server::releaseWebSocketPhone()
{
    PhoneLink* socket = m_webSocket;
    m_webSocket = nullptr;
    m_webMessages.clear();
    m_webQueuedBytes = 0;
    return socket;
}

void Server::closeClientConnection(int webCloseCode)
{
    if (m_webSocket != nullptr)
        closeWebSocket(releaseWebSocketPhone(), webCloseCode);
    if (m_clientSocket == nullptr)
        return;
    QTcpSocket* socket = m_clientSocket;
    disconnect(socket, &QTcpSocket::readyRead, this, &Server::onSocketReadyRead);
    disconnect(socket, &QTcpSocket::disconnected, this, &Server::onSocketDisconnected);
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        socket->abort();
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(1000);
    }
    socket->deleteLater();
    m_clientSocket = nullptr;
    m_buffer.clear();
}

void Server::onSocketReadyRead()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) {
        qDebug() << "Socket已关闭或状态异常，忽略数据";
        return;
    }
    if (socket != m_clientSocket)
        return;
    processInput();
}

bool Server::takeMessage(QByteArray* message, bool* fromCurrentPhone)
{
    *fromCurrentPhone = m_leftover.isEmpty();
    if (!m_leftover.isEmpty()) {
        *message = m_leftover.dequeue();
        m_leftoverBytes -= message->size();
        ++m_leftoverRun;
        return true;
    }
    if (m_clientSocket == nullptr) {
        if (m_webMessages.isEmpty())
            return false;
        *message = m_webMessages.dequeue();
        m_webQueuedBytes -= message->size();
        return true;
    }
    for (;;) {
        const LineFramer::Result result = m_buffer.takeLine(message);
        if (result == LineFramer::Result::Line && looksLikeHttp(*message)) {
            // A browser, sent here by a web page: nothing it sent runs, this line or later ones.
            dropPhone(httpRefusal(m_clientSocket->peerAddress()), CloseGoingAway);
            return false;
        }
        if (result == LineFramer::Result::Line)
            return true;
        if (result == LineFramer::Result::Overflow) {
            dropPhone(QStringLiteral("接收的消息超过1MiB仍无换行，关闭连接"), CloseGoingAway);
            return false;
        }
        // Read only when every complete line is handled: unhandled bytes stay bounded.
        if (m_clientSocket->bytesAvailable() <= 0)
            return false;
        m_buffer.append(m_clientSocket->readAll());
    }
}

bool Server::hasPendingInput() const
{
    if (!m_leftover.isEmpty())
        return true;
    if (m_clientSocket != nullptr)
        return !m_buffer.isEmpty() || m_clientSocket->bytesAvailable() > 0;
    return !m_webMessages.isEmpty();
}

void Server::keepInputOfLeavingPhone()
{
    QQueue<QByteArray> messages;
    qint64 dropped = 0;
    if (m_clientSocket != nullptr) {
        // Bytes not handled yet, whether Qt or the system holds them: the abort that follows
        // would discard them. The phone's signals are of no use any more.
        const QSignalBlocker quiet(m_clientSocket);
        do {
            m_buffer.append(m_clientSocket->readAll());
        } while (m_buffer.size() <= kLeftoverBytes && m_clientSocket->isValid() &&
                 m_clientSocket->state() == QAbstractSocket::ConnectedState &&
                 m_clientSocket->waitForReadyRead(0));
        QByteArray line;
        bool spokeHttp = false;
        while (m_buffer.takeLine(&line) == LineFramer::Result::Line) {
            spokeHttp = spokeHttp || looksLikeHttp(line);
            messages.enqueue(line);
        }
        dropped = m_buffer.size(); // a partial line, or one past the limit
        m_buffer.clear();
        if (spokeHttp) {
            // Not a phone: none of its lines runs, before or after the HTTP ones.
            qWarning().noquote() << httpRefusal(m_clientSocket->peerAddress());
            for (const QByteArray& message : qAsConst(messages))
                dropped += message.size();
            messages.clear();
        }
    } else if (m_webSocket != nullptr) {
        messages.swap(m_webMessages);
        m_webQueuedBytes = 0;
    }
    while (!messages.isEmpty()) {
        const QByteArray message = messages.dequeue();
        // Past the bound the rest goes too: running later messages without it would break the order.
        if (m_leftoverBytes + message.size() > kLeftoverBytes) {
            dropped += message.size();
            while (!messages.isEmpty())
                dropped += messages.dequeue().size();
            break;
        }
        m_leftover.enqueue(message);
        m_leftoverBytes += message.size();
        ++m_leftoverQueued;
    }
    m_afterTextFromCurrentPhone = false; // if a message waits for a text, its sender is leaving
    if (dropped > 0)
        qWarning() << "客户端已断开，丢弃未处理的数据字节数:" << dropped;
}

void Server::processInput()
{
    if (m_processing) {
        scheduleProcessing(); // a nested call: the running loop may be about to stop
        return;
    }
    m_processing = true;
    QElapsedTimer slice;
    slice.start();
    QByteArray message;
    bool fromCurrentPhone = true;
    for (;;) {
        const qint64 used = slice.elapsed();
        releaseButtonsOfDepartedPhones();
        if (m_typing) {
            if (used >= kProcessingSliceMs) {
                scheduleProcessing();
                break;
            }
            if (!m_afterText && runBesideTyping())
                continue;
            // After each part the event loop brings in what the phone sent meanwhile.
            if (!continueTyping(int(std::min<qint64>(TypingPartMs, kProcessingSliceMs - used)))) {
                scheduleProcessing();
                break;
            }
            continue;
        }
        if (m_afterText) {
            message = std::move(*m_afterText);
            m_afterText.reset();
            m_replyToSender = m_afterTextFromCurrentPhone;
            handleMessage(message);
            m_replyToSender = true;
            continue;
        }
        if (used >= kProcessingSliceMs && hasPendingInput()) {
            scheduleProcessing();
            break;
        }
        if (!takeMessage(&message, &fromCurrentPhone))
            break;
        m_replyToSender = fromCurrentPhone;
        handleMessage(message);
        m_replyToSender = true;
    }
    m_processing = false;
}

void Server::scheduleProcessing()
{
    if (m_continueScheduled)
        return;
    m_continueScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_continueScheduled = false;
        processInput();
    });
}

void Server::dropPhone(const QString& reason, int webCloseCode)
{
    qWarning().noquote() << reason;
    emit logMessage(reason);
    closeClientConnection(webCloseCode);
    emit clientDisconnected();
    phoneLeft();
}

void Server::handleMessage(const QByteArray& line)
{
    if (const std::optional<QJsonObject> object = parseCommand(line))
        handleCommand(*object);
    else
        qDebug() << "接收到无效的JSON数据";
}

void Server::handleCommand(const QJsonObject& object)
{
    qDebug() << "Receive => " << loggableCommand(object);
    const QString command = object.value(QLatin1String("command")).toString();
    const QJsonObject params = object.value(QLatin1String("params")).toObject();

    if (command == QLatin1String("mousemove")) {
        const int dx = params.value(QLatin1String("dx")).toInt(0);
        const int dy = params.value(QLatin1String("dy")).toInt(0);
        if (params.value(QLatin1String("absolute")).toBool(false))
            m_inputSimulator->moveAbsolute(dx, dy);
        else
            m_inputSimulator->moveRelative(dx, dy);
    } else if (command == QLatin1String("mouseclick")) {
        handleMouseClick(params);
    } else if (command == QLatin1String("mousedown")) {
        handleMouseButton(params, true);
    } else if (command == QLatin1String("mouseup")) {
        handleMouseButton(params, false);
    } else if (command == QLatin1String("keyinput")) {
        handleKeyInput(params);
    } else if (command == QLatin1String("mousewheel")) {
        const int amount = params.value(QLatin1String("amount")).toInt(0);
        qDebug() << "收到鼠标滚轮命令，滚动量:" << amount;
        emit logMessage(QStringLiteral("收到鼠标滚轮命令: ") + QString::number(amount));
        m_inputSimulator->scrollWheel(amount);
    } else if (command == QLatin1String("mediaexplore")) {
        handleMediaExplore(params);
    } else if (command == QLatin1String("mediaopen")) {
        handleMediaOpen(params);
    } else if (command == QLatin1String("appexplore")) {
        handleAppExplore(params);
    } else if (command == QLatin1String("appopen")) {
        handleAppOpen(params);
    } else if (command == QLatin1String("closewindow")) {
        handleCloseWindow();
    } else if (command == QLatin1String("mediastatus")) {
        handleMediaStatus();
    } else if (command == QLatin1String("mediacontrol")) {
        handleMediaControl(params);
    } else if (VolumeCommands::isVolumeCommand(command)) {
        volumeCommands()->handle(command, params);
    } else if (ClipboardCommands::isClipboardCommand(command)) {
        handleClipboard(command, params);
    }
}

void Server::sendReply(const QString& command, const QJsonObject& body)
{
    QJsonObject envelope;
    envelope.insert(QStringLiteral("command"), command);
    envelope.insert(QStringLiteral("params"), body);
    const QByteArray line = QJsonDocument(envelope).toJson(QJsonDocument::Compact) + '\n';
    if (command == QLatin1String("clipboardget")) {
        qDebug() << "clipboardget reply, bytes:" << line.size(); // the PC's clipboard stays out of the log
        writeReply(line, false);
        return;
    }
    writeReply(line);
}

void Server::writeReply(const QByteArray& line, bool logged)
{
    if (logged)
        qDebug().noquote() << QString::fromUtf8(line);
    if (!m_replyToSender)
        return; // its sender has gone; the current phone did not ask
    if (m_webSocket != nullptr) {
        // A message is already framed: it goes without the line feed.
        if (m_webSocket->isOpen())
            m_webSocket->sendMessage(line.endsWith('\n') ? line.chopped(1) : line);
        return;
    }
    if (m_clientSocket != nullptr && m_clientSocket->state() == QAbstractSocket::ConnectedState)
        m_clientSocket->write(line);
}

void Server::acceptWebSocket(PhoneLink* socket)
{
    if (socket == nullptr)
        return;
    socket->setParent(this);
    if (!m_server->isListening()) {
        // Stopped means no phone gets in, whichever way it comes.
        closeWebSocket(socket, CloseServiceStopped);
        return;
    }
    displaceCurrentPhone(socket->peerAddress());
    m_webSocket = socket;
    connect(socket, &PhoneLink::messageReceived, this,
            [this, socket](const QByteArray& message) { onWebSocketMessage(socket, message); });
    connect(socket, &PhoneLink::disconnected, this, [this, socket] { onWebSocketDisconnected(socket); });
    announcePhone(socket->peerAddress(), socket->peerPort());
}

void Server::dropWebSocketPhone(int closeCode)
{
    if (m_webSocket == nullptr)
        return;
    closeWebSocket(releaseWebSocketPhone(), closeCode);
    announcePhoneGone();
    phoneLeft();
}

void Server::onWebSocketMessage(PhoneLink* socket, const QByteArray& message)
{
    if (socket != m_webSocket)
        return;
    if (m_webQueuedBytes + message.size() > kWebQueueBytes) {
        dropPhone(QStringLiteral("WebSocket客户端的待处理消息超过1MiB，关闭连接"), CloseTooMuchData);
        return;
    }
    m_webQueuedBytes += message.size();
    m_webMessages.enqueue(message);
    processInput();
}

void Server::onWebSocketDisconnected(PhoneLink* socket)
{
    qDebug() << "客户端断开连接";
    QObject::disconnect(socket, nullptr, this, nullptr);
    if (socket == m_webSocket) {
        keepInputOfLeavingPhone(); // messages that arrived before the goodbye still count
        releaseWebSocketPhone();
        announcePhoneGone();
        phoneLeft();
    }
    socket->deleteLater();
}

void Server::closeWebSocket(PhoneLink* socket, int closeCode)
{
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->closeAndRelease(closeCode);
}

void Server::onSocketDisconnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    qDebug() << "客户端断开连接";
    bool wasCurrent = false;
    if (socket != nullptr) {
        if (socket == m_clientSocket)
            keepInputOfLeavingPhone(); // lines that arrived before the goodbye still count
        QObject::disconnect(socket, nullptr, nullptr, nullptr);
        if (socket == m_clientSocket) {
            wasCurrent = true;
            announcePhoneGone();
            m_clientSocket = nullptr;
            phoneLeft();
        }
        socket->deleteLater();
    }
    // A late signal of an old socket must not throw away the current phone's bytes.
    if (socket == nullptr || wasCurrent)
        m_buffer.clear();
    QThread::msleep(50);
}

void Server::onSocketError(QAbstractSocket::SocketError socketError)
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket == nullptr)
        return;
    qDebug().noquote() << "Socket错误: " << socket->errorString();
    qDebug() << "错误代码: " << socketError;
    emit logMessage(QStringLiteral("Socket错误: ") + socket->errorString());
    if (socket == m_clientSocket) {
        // Whether it closed, reset or broke: the lines it completed before still count.
        keepInputOfLeavingPhone();
        closeClientConnection();
        emit clientDisconnected();
        phoneLeft();
    } else {
        QObject::disconnect(socket, nullptr, nullptr, nullptr);
        socket->deleteLater();
    }
}
