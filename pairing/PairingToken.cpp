#include "pairing/PairingToken.h"

#include "platform/files/PrivateFiles.h"

#include <QDebug>
#include <QGlobalStatic>
#include <QRandomGenerator>
#include <QSettings>
#include <QUrl>

#include <array>

namespace {

const char kSettingsKey[] = "pairing/token";

Q_GLOBAL_STATIC(PairingToken, g_sharedToken)

QSettings settingsStore()
{
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
}

} // namespace

PairingToken::PairingToken(QObject* parent)
    : QObject(parent)
{
}

PairingToken* PairingToken::shared()
{
    return g_sharedToken();
}

QString PairingToken::token()
{
    if (!m_token.isEmpty())
        return m_token;
    const QString stored = settingsStore().value(QLatin1String(kSettingsKey)).toString();
    if (isWellFormed(stored)) {
        m_token = stored;
    } else {
        if (!stored.isEmpty())
            qWarning() << "Stored pairing token is malformed; a new one is created";
        m_token = generate();
        store(m_token);
    }
    return m_token;
}

QString PairingToken::regenerate()
{
    QString fresh = generate();
    while (fresh == m_token) // astronomically unlikely, but a "new" token must differ
        fresh = generate();
    m_token = fresh;
    store(m_token);
    qInfo() << "Pairing token regenerated";
    emit tokenChanged(m_token);
    return m_token;
}

bool PairingToken::matches(const QString& candidate)
{
    const QByteArray expected = token().toLatin1();
    const QByteArray given = candidate.toUtf8();
    // The length of a token is no secret; only its content is compared without shortcuts.
    if (given.size() != expected.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < expected.size(); ++i)
        difference |= static_cast<unsigned char>(expected.at(i) ^ given.at(i));
    return difference == 0;
}

QString PairingToken::generate()
{
    std::array<quint32, TokenBytes / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), TokenBytes);
    return QString::fromLatin1(bytes.toHex());
}

bool PairingToken::isWellFormed(const QString& text)
{
    if (text.size() != TokenLength)
        return false;
    for (const QChar c : text) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = c >= QLatin1Char('a') && c <= QLatin1Char('f');
        if (!digit && !letter)
            return false;
    }
    return true;
}

void PairingToken::store(const QString& token)
{
    QSettings settings = settingsStore();
    settings.setValue(QLatin1String(kSettingsKey), token);
    // Written at once: the token must survive a crash, and helpers read the file directly.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "Pairing token could not be stored; it holds until the program ends";
    // Created private at start, and a rewrite keeps the mode; this covers a file made meanwhile.
    makeFilePrivate(settings.fileName());
}

QString webClientUrl(const QString& host, int port, const QString& token)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host.isEmpty() ? QStringLiteral("localhost") : host);
    url.setPort(port);
    url.setPath(QStringLiteral("/"));
    url.setFragment(QStringLiteral("token=") + token);
    return url.toString(QUrl::FullyEncoded);
}
