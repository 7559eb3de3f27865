#include "web/SealedChannel.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <sodium.h>

#include <cstdlib>
#include <limits>

namespace SealedChannel {
namespace {

void ensureSodium()
{
    // Safe to call repeatedly and from any thread; failing means no usable random source.
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        std::abort();
}

void hmac(const unsigned char* key, size_t keyBytes, const QByteArray& message, const QByteArray& more,
          unsigned char* out)
{
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, key, keyBytes);
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(message.constData()),
                                  static_cast<unsigned long long>(message.size()));
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(more.constData()),
                                  static_cast<unsigned long long>(more.size()));
    crypto_auth_hmacsha256_final(&state, out);
    sodium_memzero(&state, sizeof state);
}

// Lowercase hex of exactly RandomBytes bytes, else empty.
QByteArray randomFromHex(const QString& text)
{
    if (text.size() != 2 * RandomBytes)
        return QByteArray();
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return QByteArray();
    }
    return QByteArray::fromHex(text.toLatin1());
}

} // namespace

Key deriveKey(const QString& token, const QByteArray& pcRandom, const QByteArray& pageRandom)
{
    ensureSodium();
    const QByteArray salt = pcRandom + pageRandom;
    std::array<unsigned char, crypto_auth_hmacsha256_BYTES> prk{};
    hmac(reinterpret_cast<const unsigned char*>(salt.constData()), static_cast<size_t>(salt.size()),
         token.toUtf8(), QByteArray(), prk.data());
    Key key{};
    hmac(prk.data(), prk.size(), QByteArray(KeyLabel), QByteArray(1, '\x01'), key.data());
    sodium_memzero(prk.data(), prk.size());
    return key;
}

std::array<unsigned char, NonceBytes> nonce(Direction direction, quint64 counter)
{
    std::array<unsigned char, NonceBytes> bytes{};
    bytes[0] = static_cast<unsigned char>(direction);
    for (int i = 0; i < 8; ++i)
        bytes[NonceBytes - 1 - i] = static_cast<unsigned char>(counter >> (8 * i));
    return bytes;
}

Answer parseAnswer(const QByteArray& message)
{
    Answer parsed;
    const QJsonObject object = QJsonDocument::fromJson(message).object();
    if (object.value(QLatin1String("command")).toString() != QLatin1String("answer"))
        return parsed;
    const QJsonObject params = object.value(QLatin1String("params")).toObject();
    parsed.answer = params.value(QLatin1String("answer")).toString();
    parsed.pageRandom = randomFromHex(params.value(QLatin1String("nonce")).toString());
    const QJsonValue version = params.value(QLatin1String("version"));
    // Only whole numbers count; anything else is as unknown as a version from the future.
    if (version.isDouble()) {
        const double number = version.toDouble();
        parsed.version = number >= 0 && number <= 1000 && number == int(number) ? int(number) : 0;
    } else if (!version.isUndefined()) {
        parsed.version = 0;
    }
    return parsed;
}

Seal::Seal(const Key& key, Direction outgoing)
    : m_key(key)
    , m_outgoing(outgoing)
{
    ensureSodium();
}

Seal::~Seal()
{
    sodium_memzero(m_key.data(), m_key.size());
}

QByteArray Seal::seal(const QByteArray& plaintext)
{
    // 2^64 frames are out of reach; should the count ever wrap, a nonce would repeat.
    if (m_sent == std::numeric_limits<quint64>::max())
        std::abort();
    const auto frameNonce = nonce(m_outgoing, m_sent++);
    QByteArray frame(plaintext.size() + MacBytes, Qt::Uninitialized);
    crypto_secretbox_easy(reinterpret_cast<unsigned char*>(frame.data()),
                          reinterpret_cast<const unsigned char*>(plaintext.constData()),
                          static_cast<unsigned long long>(plaintext.size()), frameNonce.data(), m_key.data());
    return frame;
}

std::optional<QByteArray> Seal::open(const QByteArray& frame)
{
    if (m_broken)
        return std::nullopt;
    const Direction incoming = m_outgoing == Direction::ToPage ? Direction::ToPc : Direction::ToPage;
    if (frame.size() < MacBytes || m_received == std::numeric_limits<quint64>::max()) {
        m_broken = true;
        return std::nullopt;
    }
    const auto frameNonce = nonce(incoming, m_received);
    QByteArray plaintext(frame.size() - MacBytes, Qt::Uninitialized);
    if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(plaintext.data()),
                                   reinterpret_cast<const unsigned char*>(frame.constData()),
                                   static_cast<unsigned long long>(frame.size()), frameNonce.data(),
                                   m_key.data()) != 0) {
        m_broken = true;
        return std::nullopt;
    }
    ++m_received;
    return plaintext;
}

} // namespace SealedChannel
