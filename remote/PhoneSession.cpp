#include "remote/PhoneSession.h"

#include "platform/process/MemoryRelease.h"
#include "remote/LocalNetwork.h"
#include "remote/PhoneLink.h"
#include "remote/ProtocolGuard.h"
#include "remote/TextTyper.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Messages are handled one after the other, but after this long the event loop gets a turn
// before the next one, so a flood of clicks cannot freeze the window.
constexpr int kProcessingSliceMs = 100;
// Messages of a browser phone waiting to run, in bytes; a phone that gets this far ahead of
// the input it drives is cut off rather than allowed to grow our memory.
constexpr qint64 kWebQueueBytes = 1024 * 1024;
// A reply this large (a folder of many files) leaves the heap at its peak: once it is sent,
// the free memory goes back to the system. Until then it is looked at this often.
constexpr int kLargeReplyBytes = 1024 * 1024;
constexpr int kReleaseCheckMs = 100;

} // namespace

PhoneSession::PhoneSession(Runner run, TextTyper* typer, std::function<void()> releaseButtons,
                           QObject* parent)
    : QObject(parent)
    , m_run(std::move(run))
    , m_typer(typer)
    , m_releaseButtons(std::move(releaseButtons))
{
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    if (m_typer != nullptr)
        m_typer->setMoreToType([this] { scheduleProcessing(); });
}

void PhoneSession::takePhone(QTcpSocket* socket)
{
    displaceCurrentPhone(socket->peerAddress());
    m_clientSocket = socket;
    PhoneLineReader::prepare(socket);
    connect(socket, &QTcpSocket::readyRead, this, &PhoneSession::onSocketReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &PhoneSession::onSocketDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &PhoneSession::onSocketError);
    announcePhone(socket->peerAddress(), socket->peerPort());
    if (socket->bytesAvailable() > 0)
        scheduleProcessing(); // its first command came before it took over
}

QObject* PhoneSession::currentPhone() const
{
    if (m_clientSocket != nullptr)
        return m_clientSocket;
    return m_webSocket;
}

void PhoneSession::displaceCurrentPhone(const QHostAddress& newcomer)
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

void PhoneSession::announcePhone(const QHostAddress& address, quint16 port)
{
    const QString clientInfo = address.toString() + QLatin1Char(':') + QString::number(port);
    emit clientConnected(clientInfo);
    emit logMessage(QStringLiteral("客户端已连接: ") + clientInfo);
}

void PhoneSession::announcePhoneGone()
{
    emit clientDisconnected();
    emit logMessage(QStringLiteral("客户端已断开连接"));
}

PhoneLink* PhoneSession::releaseWebSocketPhone()
{
    PhoneLink* socket = m_webSocket;
    m_webSocket = nullptr;
    m_webMessages.clear();
    m_webQueuedBytes = 0;
    return socket;
}

void PhoneSession::closeClientConnection(int webCloseCode)
{
    if (m_webSocket != nullptr)
        closeWebSocket(releaseWebSocketPhone(), webCloseCode);
    if (m_clientSocket == nullptr)
        return;
    QTcpSocket* socket = m_clientSocket;
    disconnect(socket, &QTcpSocket::readyRead, this, &PhoneSession::onSocketReadyRead);
    disconnect(socket, &QTcpSocket::disconnected, this, &PhoneSession::onSocketDisconnected);
    PhoneLineReader::close(socket);
    m_clientSocket = nullptr;
    m_lines.clear();
}

void PhoneSession::stop()
{
    closeClientConnection();
    m_departed.clear();
    m_afterText.reset();
    endTyping();
    m_releaseButtons();
}

void PhoneSession::onSocketReadyRead()
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

bool PhoneSession::takeMessage(QByteArray* message, bool* fromCurrentPhone)
{
    *fromCurrentPhone = m_departed.isEmpty();
    if (!m_departed.isEmpty()) {
        *message = m_departed.take();
        return true;
    }
    if (m_clientSocket == nullptr) {
        if (m_webMessages.isEmpty())
            return false;
        *message = m_webMessages.dequeue();
        m_webQueuedBytes -= message->size();
        return true;
    }
    switch (m_lines.take(m_clientSocket, message)) {
    case PhoneLineReader::Result::Line:
        return true;
    case PhoneLineReader::Result::NoLine:
        return false;
    case PhoneLineReader::Result::Http:
        // A browser, sent here by a web page: nothing it sent runs, this line or later ones.
        dropPhone(httpRefusal(m_clientSocket->peerAddress()), CloseGoingAway);
        return false;
    case PhoneLineReader::Result::Overflow:
        dropPhone(QStringLiteral("接收的消息超过1MiB仍无换行，关闭连接"), CloseGoingAway);
        return false;
    }
    return false;
}

bool PhoneSession::hasPendingInput() const
{
    if (!m_departed.isEmpty())
        return true;
    if (m_clientSocket != nullptr)
        return m_lines.hasPending(m_clientSocket);
    return !m_webMessages.isEmpty();
}

void PhoneSession::keepInputOfLeavingPhone()
{
    QQueue<QByteArray> messages;
    qint64 dropped = 0;
    if (m_clientSocket != nullptr) {
        dropped = m_lines.drain(m_clientSocket, DepartedInput::MaxBytes, &messages);
    } else if (m_webSocket != nullptr) {
        messages.swap(m_webMessages);
        m_webQueuedBytes = 0;
    }
    dropped += m_departed.keep(std::move(messages));
    m_afterTextFromCurrentPhone = false; // if a message waits for a text, its sender is leaving
    if (dropped > 0)
        qWarning() << "客户端已断开，丢弃未处理的数据字节数:" << dropped;
}

void PhoneSession::processInput()
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
        if (m_departed.phoneDone())
            m_releaseButtons();
        if (isTyping()) {
            if (used >= kProcessingSliceMs) {
                scheduleProcessing();
                break;
            }
            if (!m_afterText && runBesideTyping())
                continue;
            // After each part the event loop brings in what the phone sent meanwhile.
            const int budget = int(std::min<qint64>(TextTyper::PartMs, kProcessingSliceMs - used));
            if (!m_typer->continueTyping(budget)) {
                if (!m_typer->isWaiting()) // otherwise the typer calls when it can go on
                    scheduleProcessing();
                break;
            }
            continue;
        }
        if (m_afterText) {
            message = std::move(*m_afterText);
            m_afterText.reset();
            run(message, m_afterTextFromCurrentPhone);
            continue;
        }
        if (used >= kProcessingSliceMs && hasPendingInput()) {
            scheduleProcessing();
            break;
        }
        if (!takeMessage(&message, &fromCurrentPhone))
            break;
        run(message, fromCurrentPhone);
    }
    m_processing = false;
}

void PhoneSession::run(const QByteArray& message, bool fromCurrentPhone)
{
    m_replyToSender = fromCurrentPhone;
    m_run(message);
    m_replyToSender = true;
}

bool PhoneSession::runBesideTyping()
{
    QByteArray message;
    bool fromCurrentPhone = true;
    if (!takeMessage(&message, &fromCurrentPhone))
        return false;
    if (TextTyper::waitsForText(message)) {
        m_afterText = message;
        m_afterTextFromCurrentPhone = fromCurrentPhone;
        return false;
    }
    run(message, fromCurrentPhone);
    return true;
}

bool PhoneSession::isTyping() const
{
    return m_typer != nullptr && m_typer->isTyping();
}

void PhoneSession::endTyping()
{
    if (m_typer != nullptr)
        m_typer->end();
}

void PhoneSession::scheduleProcessing()
{
    if (m_continueScheduled)
        return;
    m_continueScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_continueScheduled = false;
        processInput();
    });
}

void PhoneSession::phoneLeft()
{
    m_departed.phoneLeft();
    scheduleProcessing();
}

void PhoneSession::dropPhone(const QString& reason, int webCloseCode)
{
    qWarning().noquote() << reason;
    emit logMessage(reason);
    closeClientConnection(webCloseCode);
    emit clientDisconnected();
    phoneLeft();
}

void PhoneSession::dropPhoneFrom(const QString& address, const QString& reason)
{
    if (m_clientSocket != nullptr && peerAddressKey(m_clientSocket->peerAddress()) == address)
        dropPhone(reason, CloseGoingAway);
}

QHostAddress PhoneSession::replyTargetAddress() const
{
    if (!m_replyToSender)
        return QHostAddress();
    if (m_clientSocket != nullptr)
        return m_clientSocket->peerAddress();
    return m_webSocket != nullptr ? m_webSocket->peerAddress() : QHostAddress();
}

QHostAddress PhoneSession::tcpPhoneAddress() const
{
    return m_clientSocket != nullptr ? m_clientSocket->peerAddress() : QHostAddress();
}

void PhoneSession::writeReply(const QByteArray& line, const QByteArray& logged)
{
    qDebug().noquote() << QString::fromUtf8(logged);
    if (m_replyToSender) // else its sender has gone; the current phone did not ask
        send(line);
}

void PhoneSession::writeLaterReply(const QObject* phone, const QByteArray& line)
{
    qDebug() << "Reply sent later, bytes:" << line.size();
    if (phone != nullptr && phone == currentPhone())
        send(line);
}

void PhoneSession::send(const QByteArray& line)
{
    if (line.size() >= kLargeReplyBytes)
        releaseMemoryOnceSent();
    if (m_webSocket != nullptr) {
        // A message is already framed: it goes without the line feed.
        if (m_webSocket->isOpen())
            m_webSocket->sendMessage(line.endsWith('\n') ? line.chopped(1) : line);
        return;
    }
    if (m_clientSocket != nullptr && m_clientSocket->state() == QAbstractSocket::ConnectedState)
        m_clientSocket->write(line);
}

void PhoneSession::releaseMemoryOnceSent()
{
    if (m_releaseTimer == nullptr) {
        m_releaseTimer = new QTimer(this);
        m_releaseTimer->setSingleShot(true);
        m_releaseTimer->setInterval(kReleaseCheckMs);
        connect(m_releaseTimer, &QTimer::timeout, this, [this] {
            // The socket's buffer holds the reply until the phone has taken it.
            if (m_clientSocket != nullptr && m_clientSocket->bytesToWrite() > 0) {
                m_releaseTimer->start();
                return;
            }
            releaseFreedMemory();
        });
    }
    m_releaseTimer->start();
}

void PhoneSession::acceptWebSocket(PhoneLink* socket)
{
    displaceCurrentPhone(socket->peerAddress());
    m_webSocket = socket;
    connect(socket, &PhoneLink::messageReceived, this,
            [this, socket](const QByteArray& message) { onWebSocketMessage(socket, message); });
    connect(socket, &PhoneLink::disconnected, this, [this, socket] { onWebSocketDisconnected(socket); });
    announcePhone(socket->peerAddress(), socket->peerPort());
}

void PhoneSession::dropWebSocketPhone(int closeCode)
{
    if (m_webSocket == nullptr)
        return;
    closeWebSocket(releaseWebSocketPhone(), closeCode);
    announcePhoneGone();
    phoneLeft();
}

void PhoneSession::onWebSocketMessage(PhoneLink* socket, const QByteArray& message)
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

void PhoneSession::onWebSocketDisconnected(PhoneLink* socket)
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

void PhoneSession::closeWebSocket(PhoneLink* socket, int closeCode)
{
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->closeAndRelease(closeCode);
}

void PhoneSession::onSocketDisconnected()
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
        m_lines.clear();
    QThread::msleep(50);
}

void PhoneSession::onSocketError(QAbstractSocket::SocketError socketError)
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket == nullptr)
        return;
    qDebug().noquote() << "Socket错误: " << socket->errorString();
    qDebug() << "错误代码: " << socketError;
    emit logMessage(QStringLiteral("Socket错误: ") + socket->errorString());
    if (socket == m_clientSocket) {
        // Keep-alive probes went unanswered, or sent data was never acknowledged.
        if (socketError == QAbstractSocket::SocketTimeoutError ||
            socketError == QAbstractSocket::NetworkError)
            qWarning().noquote() << "Phone went silent, connection dropped:"
                                 << peerAddressKey(socket->peerAddress());
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
