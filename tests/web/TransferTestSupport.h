#pragma once

// The file tests' common ground: the real HTTP server with the upload and download routes into a
// fresh folder, a clock the test moves, and raw uploads over loopback.

#include "LoopbackClient.h"
#include "remote/PhoneLink.h"
#include "web/DownloadRoute.h"
#include "web/FileTransfer.h"
#include "web/HttpServer.h"
#include "web/UploadRoute.h"

#include <QtTest>

#include <memory>

inline QByteArray bytesOf(qint64 size, quint32 stream)
{
    QByteArray bytes(int(size), Qt::Uninitialized);
    QRandomGenerator generator(stream);
    for (char& byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

inline QByteArray uploadHead(const QByteArray& ticket, const QByteArray& name, qint64 size)
{
    return "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Velmora-Ticket: " + ticket +
           "\r\nX-Velmora-Name: " + QUrl::toPercentEncoding(QString::fromUtf8(name)) +
           "\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n";
}

inline int statusOf(const QByteArray& reply)
{
    return reply.mid(9, 3).toInt();
}

// Records what the file commands answer, as the sealed link would carry it.
class RecordingLink final : public PhoneLink
{
public:
    QList<QByteArray> sent;
    QHostAddress peerAddress() const override { return QHostAddress::LocalHost; }
    quint16 peerPort() const override { return 1; }
    bool isOpen() const override { return true; }
    void sendMessage(const QByteArray& message) override { sent << message; }
    void closeAndRelease(int) override {}
};

// Owns the server and the transfer for one test case: setUp in init, tearDown in cleanup.
class TransferFixture
{
protected:
    QTemporaryDir m_root;
    QString m_folder;
    qint64 m_now = 1000000;
    std::unique_ptr<FileTransfer> m_transfer;
    std::unique_ptr<HttpServer> m_server;

    QByteArray ticket() { return m_transfer->issueTicket(QHostAddress::LocalHost); }
    QStringList names() const { return QDir(m_folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    // Uploads `content` as `name` on a fresh connection; the reply.
    QByteArray upload(const QByteArray& name, const QByteArray& content, const QByteArray& withTicket = "*")
    {
        LoopbackClient client(m_server->port());
        client.send(uploadHead(withTicket == "*" ? ticket() : withTicket, name, content.size()) + content);
        const QByteArray reply = client.next(20000);
        return reply.isEmpty() && (client.waitClosed(), true) ? QByteArray("closed") : reply;
    }
    // Files open in this process under the receiving folder: the partials being written.
    int openPartials() const
    {
        int count = 0;
        for (const QFileInfo& fd :
             QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System))
            count += fd.symLinkTarget().startsWith(m_folder + QLatin1Char('/')) ? 1 : 0;
        return count;
    }
    QByteArray read(const QString& name) const
    {
        QFile file(m_folder + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    bool setUp()
    {
        m_folder = m_root.path() + QStringLiteral("/received-") + QString::number(m_now);
        m_transfer = std::make_unique<FileTransfer>();
        m_transfer->setFolder(m_folder);
        m_transfer->setClock([this] { return m_now; });
        m_server = std::make_unique<HttpServer>();
        m_server->addRoute(std::make_unique<UploadRoute>(m_transfer.get()));
        m_server->addRoute(std::make_unique<DownloadRoute>(m_transfer.get()));
        return m_server->start(0);
    }
    void tearDown()
    {
        m_server.reset();
        m_transfer.reset();
        ++m_now;
    }
};
