// Feeds arbitrary bytes to the browser channel's handshake parser and to the opening of
// sealed frames: the input is cut into frames by one-byte lengths and opened in turn, the
// way a session receives them, with a valid frame of the session spliced in where the
// input says. Checks that nothing forged opens and that what opens is what was sealed.
// The same bytes go to the WebSocket layer beneath: as an opening handshake, and as a peer's
// frames arriving in pieces, which must come out within the limits whatever they hold.

#include "web/HttpRequestParser.h"
#include "web/SealedChannel.h"
#include "web/WebSocketFrames.h"

#include <cstdint>
#include <cstdlib>

namespace {

// A session's key is never all zeros in practice; any fixed key serves the fuzzer.
SealedChannel::Key fixedKey()
{
    SealedChannel::Key key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<unsigned char>(i * 7 + 1);
    return key;
}

void webSocketLayer(const QByteArray& input)
{
    HttpRequest request;
    if (HttpRequestParser::parse(input, &request) == HttpRequestParser::Result::Complete) {
        const auto answer = WebSocketFrames::handshakeAnswer(request);
        if (answer && !answer->startsWith("HTTP/1.1 101 "))
            std::abort();
    }
    // The first byte gives the size of the pieces the rest arrives in.
    constexpr int maxMessage = 1024;
    constexpr int maxHead = 14;
    const int piece = input.isEmpty() ? 1 : 1 + static_cast<unsigned char>(input.at(0)) % 64;
    WebSocketFrames::Reader reader(maxMessage);
    bool failed = false;
    for (int at = 1; at < input.size(); at += piece) {
        reader.append(input.mid(at, piece));
        WebSocketFrames::Reader::Message message;
        for (;;) {
            const auto result = reader.next(&message);
            if (result == WebSocketFrames::Reader::Result::NeedMore) {
                if (failed || reader.buffered() >= maxHead + maxMessage)
                    std::abort(); // an error sticks; one unfinished frame at most is held
                break;
            }
            if (result == WebSocketFrames::Reader::Result::Error) {
                if (reader.closeCode() == 0 || reader.buffered() != 0)
                    std::abort();
                failed = true;
                break;
            }
            const bool control = (static_cast<int>(message.opcode) & 0x8) != 0;
            if (failed || message.payload.size() > (control ? 125 : maxMessage))
                std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    webSocketLayer(input);

    // The answer message: whatever it holds, a random value is all or nothing.
    const SealedChannel::Answer answer = SealedChannel::parseAnswer(input);
    if (!answer.pageRandom.isEmpty() && answer.pageRandom.size() != SealedChannel::RandomBytes)
        std::abort();

    // Frames: one length byte, then that many bytes. A length byte of 0 stands for the next
    // genuine frame of the page, which must open unless a forged one came before it.
    SealedChannel::Seal page(fixedKey(), SealedChannel::Direction::ToPc);
    SealedChannel::Seal pc(fixedKey(), SealedChannel::Direction::ToPage);
    int at = 0;
    while (at < input.size()) {
        const int length = static_cast<unsigned char>(input.at(at++));
        const bool genuine = length == 0;
        const QByteArray plain = input.mid(at, genuine ? 8 : 0);
        const QByteArray frame = genuine ? page.seal(plain) : input.mid(at, length);
        at += genuine ? 8 : length;
        const bool wasBroken = pc.broken();
        const std::optional<QByteArray> opened = pc.open(frame);
        if (genuine && !wasBroken && opened != plain)
            std::abort(); // a genuine frame in its place must open to what was sealed
        if (!genuine && opened)
            std::abort(); // forging a frame without the key
        if (wasBroken && opened)
            std::abort(); // nothing opens once a frame has failed
    }
    return 0;
}
