#include "web/WebSocketFrames.h"

#include "web/HttpRequestParser.h"

#include <QCryptographicHash>
#include <QTextCodec>

namespace WebSocketFrames {

namespace {

// Joined to the peer's key for the answer's proof that this server speaks the protocol.
constexpr char kAcceptGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr int kKeyBytes = 16;
constexpr quint64 kMaxControlPayload = 125;

bool listsToken(const QList<QByteArray>& values, const QByteArray& token)
{
    for (const QByteArray& value : values) {
        for (const QByteArray& item : value.split(',')) {
            if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

bool isUtf8(const QByteArray& text)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(text.constData(), text.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

bool isControl(int opcode)
{
    return (opcode & 0x8) != 0;
}

} // namespace

std::optional<QByteArray> handshakeAnswer(const HttpRequest& request)
{
    if (!request.isWebSocketUpgrade() || !listsToken(request.headerValues("Connection"), "upgrade") ||
        request.headerValue("Sec-WebSocket-Version") != "13")
        return std::nullopt;
    const QByteArray key = request.headerValue("Sec-WebSocket-Key");
    const auto decoded = QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kKeyBytes)
        return std::nullopt;
    const QByteArray accept =
        QCryptographicHash::hash(key + kAcceptGuid, QCryptographicHash::Sha1).toBase64();
    return QByteArray("HTTP/1.1 101 Switching Protocols\r\n"
                      "Upgrade: websocket\r\n"
                      "Connection: Upgrade\r\n"
                      "Sec-WebSocket-Accept: ") +
           accept + "\r\n\r\n";
}

QByteArray frame(Opcode opcode, const QByteArray& payload)
{
    const auto size = static_cast<quint64>(payload.size());
    QByteArray out;
    out.reserve(payload.size() + 10);
    out.append(static_cast<char>(0x80 | static_cast<int>(opcode)));
    if (size < 126) {
        out.append(static_cast<char>(size));
    } else if (size <= 0xFFFF) {
        out.append(static_cast<char>(126));
        out.append(static_cast<char>(size >> 8));
        out.append(static_cast<char>(size & 0xFF));
    } else {
        out.append(static_cast<char>(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            out.append(static_cast<char>((size >> shift) & 0xFF));
    }
    out.append(payload);
    return out;
}

QByteArray closeFrame(int code)
{
    QByteArray payload;
    payload.append(static_cast<char>((code >> 8) & 0xFF));
    payload.append(static_cast<char>(code & 0xFF));
    return frame(Opcode::Close, payload);
}

Reader::Reader(int maxMessageBytes)
    : m_maxMessageBytes(maxMessageBytes)
{
}

void Reader::append(const QByteArray& bytes)
{
    if (m_closeCode == 0)
        m_buffer.append(bytes);
}

Reader::Result Reader::fail(int closeCode)
{
    m_closeCode = closeCode;
    m_buffer.clear();
    m_position = 0;
    m_message.clear();
    return Result::Error;
}

Reader::Result Reader::next(Message* message)
{
    for (;;) {
        if (m_closeCode != 0)
            return Result::Error;
        const int available = m_buffer.size() - m_position;
        const auto* p = reinterpret_cast<const uchar*>(m_buffer.constData()) + m_position;
        quint64 length = available >= 2 ? (p[1] & 0x7F) : 0;
        int head = length == 127 ? 10 : length == 126 ? 4 : 2;
        if (available < head) {
            // Taken frames go at most once per batch, so many small frames cost no copying each.
            m_buffer.remove(0, m_position);
            m_position = 0;
            return Result::NeedMore;
        }
        const bool final = (p[0] & 0x80) != 0;
        const int opcode = p[0] & 0x0F;
        // No extension was agreed, so no reserved bit may be set; a peer's frames are masked.
        if ((p[0] & 0x70) != 0 || (p[1] & 0x80) == 0)
            return fail(CloseProtocolError);
        if (head > 2) {
            length = 0;
            for (int i = 2; i < head; ++i)
                length = (length << 8) | p[i];
            if (length >> 63 != 0)
                return fail(CloseProtocolError);
        }
        if (isControl(opcode)) {
            if (!final || length > kMaxControlPayload ||
                (opcode != int(Opcode::Close) && opcode != int(Opcode::Ping) &&
                 opcode != int(Opcode::Pong)) ||
                (opcode == int(Opcode::Close) && length == 1))
                return fail(CloseProtocolError);
        } else {
            const bool continuation = opcode == int(Opcode::Continuation);
            if (opcode > int(Opcode::Binary) || continuation != m_messageOpcode.has_value())
                return fail(CloseProtocolError);
            if (length > static_cast<quint64>(m_maxMessageBytes - m_message.size()))
                return fail(CloseTooBig);
        }
        const uchar* mask = p + head;
        head += 4;
        if (static_cast<quint64>(available) < head + length) {
            m_buffer.remove(0, m_position);
            m_position = 0;
            return Result::NeedMore;
        }
        QByteArray payload(static_cast<int>(length), Qt::Uninitialized);
        char* out = payload.data();
        for (int i = 0; i < payload.size(); ++i)
            out[i] = static_cast<char>(p[head + i] ^ mask[i % 4]);
        m_position += head + static_cast<int>(length);

        if (isControl(opcode)) {
            *message = {static_cast<Opcode>(opcode), payload};
            return Result::Message;
        }
        if (!m_messageOpcode)
            m_messageOpcode = static_cast<Opcode>(opcode);
        m_message.append(payload);
        if (!final)
            continue;
        message->opcode = *m_messageOpcode;
        message->payload = std::move(m_message);
        m_message = QByteArray();
        m_messageOpcode.reset();
        if (message->opcode == Opcode::Text && !isUtf8(message->payload))
            return fail(CloseInvalidText);
        return Result::Message;
    }
}

} // namespace WebSocketFrames
