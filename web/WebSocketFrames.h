#pragma once

#include <QByteArray>

#include <optional>

struct HttpRequest;

// The server's side of the WebSocket wire format, apart from any socket so that tests and
// fuzzers drive it with bytes alone: the opening handshake's answer, frames out, and a reader
// that turns what a peer sent into whole messages. Everything a peer sends is bounded here:
// a frame announcing more than a message may hold is refused from its head, before its payload.
namespace WebSocketFrames {

enum class Opcode : quint8
{
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xA,
};

// Close codes the protocol itself uses.
constexpr int CloseNormal = 1000;
constexpr int CloseProtocolError = 1002;
constexpr int CloseInvalidText = 1007; // a text message that is not UTF-8
constexpr int CloseTooBig = 1009;

// The 101 answer to a valid opening handshake (version 13 with a 16-byte key); nothing for a
// request that is not one.
std::optional<QByteArray> handshakeAnswer(const HttpRequest& request);

// One whole frame as the server sends it: final, unmasked.
QByteArray frame(Opcode opcode, const QByteArray& payload);
QByteArray closeFrame(int code);

// A peer's messages out of its bytes, in order. Control frames come out as they arrive, also
// between the fragments of a message; a data message comes out once whole.
class Reader final
{
public:
    struct Message
    {
        Opcode opcode = Opcode::Binary; // Text, Binary, Close, Ping or Pong
        QByteArray payload;
    };
    enum class Result
    {
        Message,
        NeedMore,
        Error, // closeCode() says why; the reader takes nothing more
    };

    explicit Reader(int maxMessageBytes);

    void append(const QByteArray& bytes);
    Result next(Message* message);
    int closeCode() const { return m_closeCode; }
    // Bytes held: the unread part of one frame at most, once next() has said NeedMore.
    int buffered() const { return m_buffer.size() - m_position; }

private:
    Result fail(int closeCode);

    int m_maxMessageBytes;
    QByteArray m_buffer;
    int m_position = 0; // frames before it are taken
    QByteArray m_message;
    std::optional<Opcode> m_messageOpcode; // of a fragmented message being put together
    int m_closeCode = 0;
};

} // namespace WebSocketFrames
