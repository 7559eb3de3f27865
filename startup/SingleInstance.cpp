#include "startup/SingleInstance.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray kRequest = QByteArrayLiteral("show\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
constexpr int kRetryMs = 50;

// The user and the data folder make the name; hashed, since socket paths are short.
QString instanceName(const QString& dataFolder)
{
    const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
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
        // Only the one short request is read; anything longer or different ends the connection.
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray request = socket->peek(kRequest.size());
            if (!kRequest.startsWith(request)) {
                socket->abort();
                return;
            }
            if (request.size() < kRequest.size())
                return;
            socket->read(kRequest.size());
            socket->write(kAnswer);
            socket->disconnectFromServer();
            qInfo() << "再次启动: 显示已运行实例的窗口";
            emit activationRequested();
        });
    }
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
