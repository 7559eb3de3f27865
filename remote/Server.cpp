#include "remote/Server.h"

#include "data/ConfigService.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/input/InputBackend.h"
#include "platform/media/MediaPlayerLink.h"
#include "platform/media/SystemVolume.h"
#include "platform/network/SocketOwner.h"
#include "platform/shell/Shell.h"
#include "remote/AppHandler.h"
#include "remote/CommandTable.h"
#include "remote/DeskHandlers.h"
#include "remote/DesktopLinks.h"
#include "remote/FileHandler.h"
#include "remote/InputSimulator.h"
#include "remote/MediaLibraryHandler.h"
#include "remote/PhoneLink.h"
#include "remote/PointerKeyHandler.h"
#include "remote/PowerHandler.h"
#include "remote/TextTyper.h"
#include "remote/UserButtonHandler.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonObject>
#include <QPointer>

Server::Server(QObject* parent)
    : Server(createInputBackend(), parent)
{
}

Server::Server(std::unique_ptr<InputBackend> backend, QObject* parent)
    : QObject(parent)
    , m_inputSimulator(new InputSimulator(std::move(backend), this))
    , m_typer(std::make_unique<TextTyper>(m_inputSimulator))
    , m_desktop(new DesktopLinks(this))
    , m_commands(std::make_unique<CommandTable>())
{
    // The dispatch table: one line per area. A new command is a handler class and a line here.
    m_commands->add(std::make_unique<PointerKeyHandler>(m_inputSimulator, m_typer.get()));
    m_commands->add(std::make_unique<MediaLibraryHandler>(m_desktop));
    m_commands->add(std::make_unique<AppHandler>(m_desktop, m_inputSimulator));
    m_commands->add(std::make_unique<UserButtonHandler>(m_inputSimulator));
    m_commands->add(std::make_unique<PowerHandler>());
    m_commands->add(std::make_unique<PlayerHandler>(m_desktop, static_cast<CommandContext*>(this),
                                                    m_inputSimulator->backend()));
    m_volume = static_cast<VolumeHandler*>(m_commands->add(
        std::make_unique<VolumeHandler>(static_cast<CommandContext*>(this), m_inputSimulator->backend())));
    m_clipboard = static_cast<ClipboardHandler*>(
        m_commands->add(std::make_unique<ClipboardHandler>(m_inputSimulator->backend())));
    // Characters the desktop cannot type are pasted through the same clipboard, while the
    // user lets them.
    m_typer->setPaste([this] { return m_clipboard->clipboard(); },
                      [] {
                          return ConfigService::instance()->value(QLatin1String(TextTyper::PasteSettingKey),
                                                                  QStringLiteral("1")) != QLatin1String("0");
                      });
    m_files = static_cast<FileHandler*>(
        m_commands->add(std::make_unique<FileHandler>(static_cast<CommandContext*>(this))));

    m_session = new PhoneSession([this](const QByteArray& message) { handleMessage(message); }, m_typer.get(),
                                 [this] { m_inputSimulator->releaseHeldButtons(); }, this);
    connect(m_session, &PhoneSession::clientConnected, this, &Server::clientConnected);
    connect(m_session, &PhoneSession::clientDisconnected, this, &Server::clientDisconnected);
    connect(m_session, &PhoneSession::logMessage, this, &Server::logMessage);

    m_gate = new PhoneGate(this);
    connect(m_gate, &PhoneGate::phoneAdmitted, m_session, &PhoneSession::takePhone);
    m_gate->setPhonePresent([this] { return m_session->hasPhone(); });
    // Queued: a phone displaced by a newcomer is gone only once the newcomer is in.
    connect(m_session, &PhoneSession::clientDisconnected, m_gate, &PhoneGate::onPhoneGone,
            Qt::QueuedConnection);
    connect(m_gate, &PhoneGate::phoneForgotten, m_session, [this](const QString& address) {
        m_session->dropPhoneFrom(
            address, QStringLiteral("The phone is no longer allowed, connection closed: ") + address);
    });
}

Server::~Server()
{
    stop();
    m_typer->end(TextTyper::EndRestore::Now);
    m_inputSimulator->releaseHeldButtons();
    // No phone's message may run into handlers that are going.
    delete m_gate;
    delete m_session;
}

bool Server::start(quint16 port)
{
    if (m_gate->isListening())
        return true;
    m_session->closeClientConnection();
    if (!m_gate->listen(port)) {
        qDebug().noquote() << "服务器启动失败:" << m_gate->errorString();
        return false;
    }
    qDebug() << "服务器已启动，监听端口:" << port;
    m_port = port;
    emit statusChanged(true);
    return true;
}

void Server::stop()
{
    if (!m_gate->isListening())
        return;
    m_gate->close();
    qDebug() << "服务器已停止";
    m_gate->dropWaitingPhone();
    // Stopped means no more input, including what phones left behind, and nothing held.
    m_session->stop();
    emit statusChanged(false);
}

bool Server::isListening() const
{
    return m_gate->isListening();
}

quint16 Server::serverPort() const
{
    return m_gate->serverPort();
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
    m_commands->run(object, *this);
}

std::optional<QJsonObject> Server::parseCommand(const QByteArray& line)
{
    return CommandTable::parse(line);
}

QJsonObject Server::loggableCommand(const QJsonObject& object)
{
    return CommandTable::loggable(object);
}

void Server::setShell(std::unique_ptr<Shell> shell)
{
    m_desktop->setShell(std::move(shell));
}

void Server::setMediaPlayerLink(std::unique_ptr<MediaPlayerLink> link)
{
    m_desktop->setPlayers(std::move(link));
}

void Server::setSystemVolume(std::unique_ptr<SystemVolume> volume)
{
    m_volume->setVolume(std::move(volume));
}

void Server::setClipboard(std::unique_ptr<Clipboard> clipboard, std::function<bool()> readAllowed)
{
    m_clipboard->setClipboard(std::move(clipboard), std::move(readAllowed));
}

void Server::setPhoneFiles(PhoneFiles* files)
{
    m_files->setFiles(files);
}

bool Server::offerFile(const QString& path)
{
    return m_files->offer(path, m_session->tcpPhoneAddress());
}

void Server::setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker)
{
    m_gate->setAccess(access, std::move(asker));
}

void Server::setClock(std::function<qint64()> nowMs)
{
    m_gate->setClock(std::move(nowMs));
}

void Server::setLoopbackTrusted(bool trusted)
{
    m_gate->setLoopbackTrusted(trusted);
}

void Server::setSocketOwner(std::unique_ptr<SocketOwner> owner)
{
    m_gate->setSocketOwner(std::move(owner));
}

void Server::acceptWebSocket(PhoneLink* socket)
{
    if (socket == nullptr)
        return;
    socket->setParent(this);
    if (!m_gate->isListening()) {
        // Stopped means no phone gets in, whichever way it comes.
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->closeAndRelease(CloseServiceStopped);
        return;
    }
    m_session->acceptWebSocket(socket);
}

void Server::dropWebSocketPhone(int closeCode)
{
    m_session->dropWebSocketPhone(closeCode);
}

void Server::reply(const QString& command, const QJsonObject& body)
{
    const QByteArray line = CommandTable::replyLine(command, body);
    m_session->writeReply(line, CommandTable::loggableReply(command, body, line));
}

void Server::sendReply(const QString& command, const QJsonObject& body)
{
    reply(command, body);
}

void Server::logActivity(const QString& text)
{
    emit logMessage(text);
}

bool Server::hasPhone() const
{
    return m_session->hasPhone();
}

CommandContext::Reply Server::laterReply()
{
    const QPointer<const QObject> asker = m_session->replyTarget();
    const QPointer<PhoneSession> session = m_session;
    return [asker, session](const QString& command, const QJsonObject& body) {
        if (!session.isNull())
            session->writeLaterReply(asker.data(), CommandTable::replyLine(command, body));
    };
}

const void* Server::sender() const
{
    return m_session->replyTarget();
}

QHostAddress Server::senderAddress() const
{
    return m_session->replyTargetAddress();
}
