#include "web/HttpRequestParser.h"
#include "web/WebSocketFrames.h"

#include <QtTest>

using namespace WebSocketFrames;

namespace {

using Message = Reader::Message;

// A frame as a browser sends it: masked, `first` being the byte with FIN and the opcode.
// `wideLength` writes the length in the 8-byte form whatever its size.
QByteArray fromPeer(int first, const QByteArray& payload, bool wideLength = false)
{
    const char mask[4] = {'\x37', '\xfa', '\x21', '\x3d'};
    QByteArray out(1, char(first));
    const auto size = quint64(payload.size());
    if (size < 126 && !wideLength) {
        out += char(0x80 | size);
    } else if (size <= 0xFFFF && !wideLength) {
        out += char(0x80 | 126), out += char(size >> 8), out += char(size & 0xFF);
    } else {
        out += char(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += char((size >> shift) & 0xFF);
    }
    out.append(mask, 4);
    for (int i = 0; i < payload.size(); ++i)
        out += char(payload.at(i) ^ mask[i % 4]);
    return out;
}
QByteArray whole(Opcode opcode, const QByteArray& payload)
{
    return fromPeer(0x80 | int(opcode), payload);
}

// Everything the reader makes of `bytes`, written as "opcode:payload"; an error ends it as "error <code>".
QStringList readAll(Reader& reader, const QByteArray& bytes)
{
    QStringList out;
    reader.append(bytes);
    Message message;
    for (;;) {
        const Reader::Result result = reader.next(&message);
        if (result == Reader::Result::NeedMore)
            return out;
        if (result == Reader::Result::Error)
            return out << QStringLiteral("error %1").arg(reader.closeCode());
        const bool text = message.opcode != Opcode::Close;
        out << QStringLiteral("%1:%2")
                   .arg(int(message.opcode))
                   .arg(text ? QString::fromUtf8(message.payload)
                             : QString::fromLatin1(message.payload.toHex()));
    }
}

HttpRequest request(const QByteArray& headers)
{
    HttpRequest parsed;
    HttpRequestParser::parse("GET /ws HTTP/1.1\r\nHost: pc\r\n" + headers + "\r\n", &parsed);
    return parsed;
}

} // namespace

// The WebSocket wire format on the server's side: what a browser's bytes become, and what a
// hostile peer's bytes cannot do.
class tst_WebSocketFrames : public QObject
{
    Q_OBJECT

private slots:
    void theHandshakeIsAnsweredOnlyWhenValid()
    {
        const QByteArray valid =
            "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
            "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
        const auto answer = handshakeAnswer(request(valid));
        QVERIFY(answer);
        QVERIFY(answer->startsWith("HTTP/1.1 101 Switching Protocols\r\n"));
        QVERIFY(answer->contains(
            "\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n")); // RFC 6455's example
        QVERIFY(answer->endsWith("\r\n\r\n") && !answer->toLower().contains("access-control"));

        const QList<QPair<QByteArray, QByteArray>> broken{
            {"Version: 13", "Version: 8"},
            {"Connection: keep-alive, Upgrade", "Connection: keep-alive"},
            {"dGhlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZSBub25j"}, // 14 bytes
            {"dGhlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZ$Bub25jZQ=="},
            {"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", ""},
            {"Upgrade: websocket", "Upgrade: h2c"},
        };
        for (const auto& change : broken) {
            QByteArray headers = valid;
            headers.replace(change.first, change.second);
            QVERIFY2(!handshakeAnswer(request(headers)), headers.constData());
        }
    }

    // However the bytes are cut, the same messages come out in the same order; control frames
    // come out between a message's fragments; every length form reads right.
    void messagesComeOutWholeHoweverCut()
    {
        const QByteArray big(70000, 'b'), medium(300, 'm');
        const QByteArray stream = whole(Opcode::Binary, "one") + fromPeer(int(Opcode::Text), "fra") +
                                  whole(Opcode::Ping, "p") + fromPeer(int(Opcode::Continuation), "gm") +
                                  fromPeer(0x80, "ent \xc3\xa9") + whole(Opcode::Binary, medium) +
                                  whole(Opcode::Binary, big) + fromPeer(0x82, "wide", true) +
                                  whole(Opcode::Binary, QByteArray()) + whole(Opcode::Close, "\x03\xe8");
        const QStringList expected{"2:one",
                                   "9:p",
                                   QStringLiteral("1:fragment \u00e9"),
                                   "2:" + QString::fromLatin1(medium),
                                   "2:" + QString::fromLatin1(big),
                                   "2:wide",
                                   "2:",
                                   "8:03e8"};
        Reader atOnce(100000);
        QCOMPARE(readAll(atOnce, stream), expected);
        QCOMPARE(atOnce.buffered(), 0);

        for (const int piece : {1, 3, 7, 1000}) {
            Reader reader(100000);
            QStringList got;
            for (int at = 0; at < stream.size(); at += piece) {
                got += readAll(reader, stream.mid(at, piece));
                QVERIFY(reader.buffered() <= big.size() + 14); // one unfinished frame at most
            }
            QCOMPARE(got, expected);
        }

        // What the server sends, read back by the same rules (unmasked, hence by hand).
        for (const int size : {0, 125, 126, 65535, 65536}) {
            const QByteArray sent = frame(Opcode::Binary, QByteArray(size, 'x'));
            const int head = size < 126 ? 2 : size <= 65535 ? 4 : 10;
            QCOMPARE(sent.size(), head + size);
            QCOMPARE(uchar(sent.at(0)), uchar(0x82));
            QCOMPARE(uchar(sent.at(1)) & 0x80, 0); // a server never masks
        }
        QCOMPARE(closeFrame(4400), QByteArray("\x88\x02\x11\x30", 4));
    }

    void protocolBreachesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QByteArray unmasked = whole(Opcode::Binary, "abc");
        unmasked[1] = char(unmasked.at(1) & 0x7F);
        QTest::newRow("unmasked") << unmasked << CloseProtocolError;
        QTest::newRow("reserved bit") << fromPeer(0xC2, "abc") << CloseProtocolError;
        QTest::newRow("unknown opcode") << fromPeer(0x83, "abc") << CloseProtocolError;
        QTest::newRow("unknown control") << fromPeer(0x8B, "") << CloseProtocolError;
        QTest::newRow("fragmented ping") << fromPeer(0x09, "p") << CloseProtocolError;
        QTest::newRow("long ping") << whole(Opcode::Ping, QByteArray(126, 'p')) << CloseProtocolError;
        QTest::newRow("close of one byte") << whole(Opcode::Close, "x") << CloseProtocolError;
        QTest::newRow("continuation first") << fromPeer(0x80, "abc") << CloseProtocolError;
        QTest::newRow("new message amid fragments")
            << fromPeer(0x02, "ab") + whole(Opcode::Binary, "c") << CloseProtocolError;
        QTest::newRow("text not UTF-8") << whole(Opcode::Text, "ok \xc3\x28") << CloseInvalidText;
        QTest::newRow("text cut in a character") << whole(Opcode::Text, "\xe2\x82") << CloseInvalidText;
        QTest::newRow("fragments over the limit")
            << fromPeer(0x02, QByteArray(600, 'a')) + fromPeer(0x80, QByteArray(500, 'a')) << CloseTooBig;
        // Refused from the head alone: the reader never waits for (or holds) such a payload.
        QTest::newRow("announced over the limit")
            << whole(Opcode::Binary, QByteArray(1025, 'a')).left(8) << CloseTooBig;
        QTest::newRow("length with the top bit")
            << QByteArray("\x82\xff\x80\x00\x00\x00\x00\x00\x00\x01", 10) << CloseProtocolError;
    }
    void protocolBreachesAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        Reader reader(1024);
        const QStringList got = readAll(reader, whole(Opcode::Binary, "before") + bytes);
        QCOMPARE(got, (QStringList{"2:before", QStringLiteral("error %1").arg(code)}));
        QCOMPARE(reader.buffered(), 0);
        QCOMPARE(readAll(reader, whole(Opcode::Binary, "after")),
                 QStringList{QStringLiteral("error %1").arg(code)});
    }
};

QTEST_GUILESS_MAIN(tst_WebSocketFrames)
#include "tst_websocketframes.moc"
