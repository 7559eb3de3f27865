#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// The browser channel after the pairing challenge. Both ends hold the pairing token, which
// never crosses the network; from it and one fresh random value of each side they derive a
// session key (HKDF-SHA-256), and every message in either direction travels as a
// crypto_secretbox (XSalsa20-Poly1305) frame under that key. The nonce is never sent: each
// side counts the frames it sends and receives, and the 24-byte nonce is built from the
// direction and that count. So a frame replayed, reordered, dropped before another, sent
// back the other way, modified or sealed in another session fails to open.
namespace SealedChannel {

// The handshake's protocol version; the clear channel before sealing was 1.
constexpr int Version = 2;
constexpr int KeyBytes = 32;
constexpr int RandomBytes = 32; // each side's fresh value, sent as lowercase hex
constexpr int NonceBytes = 24;
constexpr int MacBytes = 16; // the authenticator in front of each frame's ciphertext
// The HKDF "info" of the session key.
constexpr char KeyLabel[] = "velmora browser channel v2 key";

enum class Direction : unsigned char
{
    ToPage = 1, // sealed by the PC, opened by the page
    ToPc = 2,   // sealed by the page, opened by the PC
};

using Key = std::array<unsigned char, KeyBytes>;

// HKDF-SHA-256 (RFC 5869) with the two random values, PC's first, as the salt, the token's
// UTF-8 text as the input key material, KeyLabel as the info; one 32-byte block.
Key deriveKey(const QString& token, const QByteArray& pcRandom, const QByteArray& pageRandom);
// Byte 0 the direction, bytes 1-15 zero, bytes 16-23 the counter, big-endian.
std::array<unsigned char, NonceBytes> nonce(Direction direction, quint64 counter);

// The page's answer to the challenge, as far as it parses.
struct Answer
{
    QString answer;        // hex HMAC of the challenge; empty when missing
    QByteArray pageRandom; // RandomBytes bytes, or empty when missing or malformed
    int version = 1;       // a page from before sealing sends none
};
Answer parseAnswer(const QByteArray& message);

// Seals what one side sends and opens what it receives, counting both ways. Not copyable:
// the key is wiped when it goes.
class Seal final
{
public:
    Seal(const Key& key, Direction outgoing);
    ~Seal();
    Seal(const Seal&) = delete;
    Seal& operator=(const Seal&) = delete;

    // MacBytes of authenticator, then the ciphertext.
    QByteArray seal(const QByteArray& plaintext);
    // The plaintext of the next frame expected from the other side; nothing when the frame
    // does not open (then nothing else opens on this seal either: the session is over).
    std::optional<QByteArray> open(const QByteArray& frame);

    quint64 sent() const { return m_sent; }
    quint64 received() const { return m_received; }
    bool broken() const { return m_broken; }

private:
    Key m_key{};
    Direction m_outgoing;
    quint64 m_sent = 0;
    quint64 m_received = 0;
    bool m_broken = false;
};

} // namespace SealedChannel
