// Feeds arbitrary bytes to the browser channel's handshake parser and to the opening of
// sealed frames: the input is cut into frames by one-byte lengths and opened in turn, the
// way a session receives them, with a valid frame of the session spliced in where the
// input says. Checks that nothing forged opens and that what opens is what was sealed.

#include "web/SealedChannel.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));

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
