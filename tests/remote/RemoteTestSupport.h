#pragma once

// Helpers of the remote-control tests: a phone on loopback TCP and a log recorder.

#include "platform/InputBackend.h"

#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

#include <utility>

// Collects every log line while it lives; the lines are still printed.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines = &m_lines;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
        s_previous = m_previous;
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const QStringList& lines() const { return m_lines; }
    bool contains(const QString& text) const { return count(text) > 0; }
    int count(const QString& text) const
    {
        int n = 0;
        for (const QString& line : m_lines)
            n += line.contains(text) ? 1 : 0;
        return n;
    }
    void clear() { m_lines.clear(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (s_lines != nullptr)
            s_lines->append(message);
        if (s_previous != nullptr && type != QtDebugMsg)
            s_previous(type, context, message);
    }

    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
    static inline QStringList* s_lines = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};

// A phone: connects to the server on loopback and writes raw bytes.
class Phone
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    QTcpSocket& socket() { return m_socket; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

private:
    QTcpSocket m_socket;
};

Q_DECLARE_METATYPE(InputRecord)

namespace QTest {
// Readable failure messages for record sequences.
template <> inline char* toString(const QVector<InputRecord>& records)
{
    QByteArray text = "[";
    for (const InputRecord& r : records) {
        if (r.type == InputRecord::Mouse)
            text += QByteArray("mouse(") + QByteArray::number(r.flags, 16) + " " + QByteArray::number(r.dx) +
                    "," + QByteArray::number(r.dy) + " " + QByteArray::number(r.mouseData) + ") ";
        else
            text += QByteArray("key(") + QByteArray::number(r.flags, 16) + " vk" +
                    QByteArray::number(r.vk, 16) + " u" + QByteArray::number(r.scan, 16) + ") ";
    }
    text += "]";
    return qstrdup(text.constData());
}
} // namespace QTest
