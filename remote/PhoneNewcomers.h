#pragma once

#include <QList>
#include <QObject>

class QTcpSocket;

// Connections let in on the command port while another phone is being served. Each waits,
// its bytes unread, until its first command line has arrived, and only then takes over: a web
// page that makes the browser connect here sends an HTTP line instead and is closed without
// ever disturbing the phone.
class PhoneNewcomers final : public QObject
{
    Q_OBJECT
public:
    // Newcomers waiting at most; the next one pushes out the oldest of the address holding most.
    static constexpr int MaxWaiting = 8;
    // A first line longer than this is not waited for: the newcomer is closed.
    static constexpr qint64 MaxFirstLineBytes = 64 * 1024;

    explicit PhoneNewcomers(QObject* parent = nullptr);
    ~PhoneNewcomers() override;

    // Holds `socket` until its first command line; owns it meanwhile.
    void add(QTcpSocket* socket);
    // The newcomer that came last, out of the wait (the phone left, so it may take over as it
    // is); null when none waits.
    QTcpSocket* takeNewest();
    // Closes the newcomers from `address` (a peerAddressKey).
    void dropFrom(const QString& address);
    void clear();
    int count() const { return int(m_sockets.size()); }

signals:
    // `socket` sent its first command line, still unread: it is the phone now, and whoever
    // takes it owns it.
    void ready(QTcpSocket* socket);

private:
    void onData(QTcpSocket* socket);
    void release(QTcpSocket* socket);
    void close(QTcpSocket* socket);

    QList<QTcpSocket*> m_sockets; // oldest first
};
