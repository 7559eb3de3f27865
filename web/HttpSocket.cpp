#include "web/HttpSocket.h"

namespace {

// An answer's head longer than this is no handshake answer: it goes out as it is.
constexpr int MaxHeadBytes = 16 * 1024;

} // namespace

qint64 HttpSocket::writeData(const char* data, qint64 size)
{
    if (!m_stripping)
        return QTcpSocket::writeData(data, size);
    m_head.append(data, static_cast<int>(size));
    const int end = m_head.indexOf("\r\n\r\n");
    if (end < 0 && m_head.size() <= MaxHeadBytes)
        return size; // the rest of the head is still to come
    m_stripping = false;
    QByteArray out;
    if (end < 0) {
        out = m_head;
    } else {
        // Each line with its CR LF; the head's last one ends at `end`.
        for (int start = 0; start <= end;) {
            const int next = m_head.indexOf("\r\n", start) + 2;
            const QByteArray line = m_head.mid(start, next - start);
            if (!line.toLower().startsWith("access-control-"))
                out += line;
            start = next;
        }
        out += "\r\n" + m_head.mid(end + 4);
    }
    m_head.clear();
    return QTcpSocket::writeData(out.constData(), out.size()) < 0 ? -1 : size;
}

void HttpListener::incomingConnection(qintptr descriptor)
{
    auto* socket = new HttpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}
