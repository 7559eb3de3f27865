#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

// A phone that speaks in whole messages rather than lines (the browser's channel): one
// command per message in, one reply per message out. Whatever the transport does to the
// bytes (the browser's channel seals them) stays behind this; the server sees commands.
class PhoneLink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QHostAddress peerAddress() const = 0;
    virtual quint16 peerPort() const = 0;
    virtual bool isOpen() const = 0;
    virtual void sendMessage(const QByteArray& message) = 0;
    // Ends the connection, telling the peer `closeCode`, and deletes the link once the
    // peer has answered (or after a grace period). No signal comes after this call.
    virtual void closeAndRelease(int closeCode) = 0;

signals:
    void messageReceived(const QByteArray& message);
    // The connection ended, by the peer or because the transport gave up on it.
    void disconnected();
};
