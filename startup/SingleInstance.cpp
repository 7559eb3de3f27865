#include "startup/SingleInstance.h"

#include "platform/network/LocalPeer.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

namespace {

const QByteArray kRequest = QByteArrayLiteral("show\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
const QByteArray kPairRequest = QByteArrayLiteral("pair\n");
// Followed by one percent-encoded path a line and an empty line.
const QByteArray kSendRequest = QByteArrayLiteral("send\n");
// All requests are this long, so one peek tells them apart.
constexpr int kRequestSize = 5;
constexpr int kRetryMs = 50;
// A few addresses with their labels; anything longer is not an answer of ours.
constexpr int kMaxPairAnswer = 64 * 1024;

// The user and the data folder make the name; hashed, since socket paths are short. The user is
// the numeric id: USER and LOGNAME differ between sessions (a terminal emulator sets LOGNAME, a
// service manager may set neither), and `velmora --pair` from any terminal must find the copy.
QString instanceName(const QString& dataFolder)
{
    const QString user = QString::number(currentUserId());
    const QByteArray key = (user + QLatin1Char('\n') + QDir::cleanPath(dataFolder)).toUtf8();
    return QStringLiteral("velmora-") +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
}

} // namespace

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : SingleInstance(dataFolder, QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), parent)
{
}

SingleInstance::SingleInstance(const QString& dataFolder, const QString& runtimeFolder, QObject* parent)
    : QObject(parent)
    , m_socketPath(runtimeFolder + QLatin1Char('/') + instanceName(dataFolder))
    , m_lock(m_socketPath + QStringLiteral(".lock"))
    , m_peerCheck(&peerIsCurrentUser)
{
    // Only a live holder counts; the lock of a crashed copy is taken over.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file before the lock goes
}

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return false;
        qWarning() << "无法检查是否已有实例在运行:" << m_socketPath;
        return true;
    }
    // Holding the lock, any socket file left here is a crashed copy's.
    QLocalServer::removeServer(m_socketPath);
    m_server.reset(new QLocalServer);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.data(), &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!m_server->listen(m_socketPath))
        qWarning().noquote() << "无法监听实例套接字:" << m_server->errorString();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!m_peerCheck(socket->socketDescriptor())) {
            qWarning() << "Instance socket: refused a connection from another user";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Only one short request is read; anything longer or different ends the connection.
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
    }
}

void SingleInstance::answer(QLocalSocket* socket)
{
    const QByteArray request = socket->peek(kRequestSize);
    if (!kRequest.startsWith(request) && !kPairRequest.startsWith(request) &&
        !kSendRequest.startsWith(request)) {
        socket->abort();
        return;
    }
    if (request.size() < kRequestSize)
        return;
    if (request == kSendRequest) {
        answerFileOffer(socket);
        return;
    }
    socket->read(kRequestSize);
    if (request == kRequest) {
        socket->write(kAnswer);
        socket->disconnectFromServer();
        qInfo() << "再次启动: 显示已运行实例的窗口";
        emit activationRequested();
        return;
    }
    // The links carry the pairing token: they go to the asking terminal only, never to the log.
    qInfo() << "Pairing links requested from the command line";
    QByteArray reply;
    const QList<PairingLink> links = m_linksProvider ? m_linksProvider() : QList<PairingLink>();
    for (const PairingLink& link : links) {
        QString label = link.label;
        label.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        reply += link.url.toUtf8() + '\t' + label.toUtf8() + '\n';
    }
    reply += '\n'; // an empty line ends the answer, so a cut-off one is told apart
    socket->write(reply);
    socket->disconnectFromServer();
}

void SingleInstance::answerFileOffer(QLocalSocket* socket)
{
    // The whole request is awaited (bounded), then taken at once.
    const QByteArray pending = socket->peek(MaxOfferRequestBytes + 1);
    const int end = pending.indexOf("\n\n", kRequestSize - 1);
    if (end < 0) {
        if (pending.size() > MaxOfferRequestBytes)
            socket->abort();
        return;
    }
    socket->read(end + 2);
    QStringList paths;
    for (const QByteArray& line : pending.mid(kRequestSize, end + 1 - kRequestSize).split('\n')) {
        if (line.isEmpty())
            continue;
        const QString path = QUrl::fromPercentEncoding(line);
        if (paths.size() >= MaxOfferedFiles || !QDir::isAbsolutePath(path)) {
            socket->abort();
            return;
        }
        paths << QDir::cleanPath(path);
    }
    qInfo() << "Files to offer to the phone, from the command line:" << paths.size();
    const int offered = m_fileOfferHandler && !paths.isEmpty() ? m_fileOfferHandler(paths) : 0;
    socket->write("offered " + QByteArray::number(offered) + '\n');
    socket->disconnectFromServer();
}

bool SingleInstance::askRunningCopy(const QByteArray& request, int maxReply,
                                    const std::function<bool(const QByteArray&)>& complete, QByteArray* reply,
                                    int timeoutMs)
{
    reply->clear();
    // Only a folder no one else can enter is trusted to hold our socket: a socket planted by
    // another user would answer with links or counts of their choosing.
    if (!isPrivateFolder(QFileInfo(m_socketPath).absolutePath()))
        return false;
    QElapsedTimer timer;
    timer.start();
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs) || !m_peerCheck(socket.socketDescriptor()))
        return false;
    socket.write(request);
    while (!complete(*reply)) {
        if (reply->size() > maxReply || timer.elapsed() >= timeoutMs)
            return false;
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(qMax(1, timeoutMs - int(timer.elapsed()))) &&
            !socket.bytesAvailable())
            return false;
        *reply += socket.read(maxReply + 1 - reply->size());
    }
    return true;
}

bool SingleInstance::requestFileOffer(const QStringList& paths, int* offered, int timeoutMs)
{
    *offered = -1;
    QByteArray request = kSendRequest;
    for (const QString& path : paths.mid(0, MaxOfferedFiles))
        request += QUrl::toPercentEncoding(path, "/") + '\n';
    request += '\n';
    if (request.size() > MaxOfferRequestBytes)
        return false;
    QByteArray reply;
    if (!askRunningCopy(
            request, 64, [](const QByteArray& r) { return r.endsWith('\n'); }, &reply, timeoutMs))
        return false;
    if (!reply.startsWith("offered "))
        return false;
    bool ok = false;
    const int count = reply.mid(8).trimmed().toInt(&ok);
    if (!ok || count < 0)
        return false;
    *offered = count;
    return true;
}

bool SingleInstance::requestPairingLinks(QList<PairingLink>* links, int timeoutMs)
{
    links->clear();
    QByteArray reply;
    const auto complete = [](const QByteArray& r) {
        return r.endsWith("\n\n") || r == "\n";
    };
    if (!askRunningCopy(kPairRequest, kMaxPairAnswer, complete, &reply, timeoutMs))
        return false;
    const QList<QByteArray> lines = reply.split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const int tab = line.indexOf('\t');
        const QString url = QString::fromUtf8(tab < 0 ? line : line.left(tab));
        if (!url.startsWith(QLatin1String("http://")))
            return false;
        links->append({url, tab < 0 ? QString() : QString::fromUtf8(line.mid(tab + 1))});
    }
    return true;
}

bool SingleInstance::activateRunning(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QLocalSocket socket;
    // The first copy may hold the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(qMax(1, timeoutMs - int(timer.elapsed()))))
            break;
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(kRetryMs);
    }
    socket.write(kRequest);
    QByteArray answer;
    while (answer.size() < kAnswer.size() && timer.elapsed() < timeoutMs) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(qMax(1, timeoutMs - int(timer.elapsed()))))
            break;
        answer += socket.read(kAnswer.size() - answer.size());
    }
    return answer == kAnswer;
}
