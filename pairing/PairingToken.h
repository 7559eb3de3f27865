#pragma once

#include <QObject>
#include <QString>

// The HTTP server's port, where the phone's browser finds the web client.
constexpr int kWebClientPort = 6888;

// The secret a browser presents to open the live channel: 128 random bits written as 32
// lowercase hexadecimal characters, kept in the settings store under "pairing/token" so that
// a paired phone stays paired across restarts. Regenerating it revokes every earlier pairing.
class PairingToken final : public QObject
{
    Q_OBJECT
public:
    static constexpr int TokenBytes = 16;
    static constexpr int TokenLength = 2 * TokenBytes;

    explicit PairingToken(QObject* parent = nullptr);

    // The one token of the process, shared by the About page and the web channel.
    static PairingToken* shared();

    // The current token; the first call reads the store and creates (and stores) a token
    // when there is none or the stored text is not a well-formed token.
    QString token();
    // Replaces the token with a fresh one, stores it and tells the listeners.
    QString regenerate();
    // Whether `candidate` is the current token. The comparison takes the same time wherever
    // the texts differ, so timing reveals nothing about how much of a guess was right.
    bool matches(const QString& candidate);

    // 32 lowercase hexadecimal characters from the system's secure random source.
    static QString generate();
    static bool isWellFormed(const QString& text);

signals:
    void tokenChanged(const QString& token);

private:
    void store(const QString& token);

    QString m_token;
};

// The address a phone opens to reach the web client on `host`, with the token in the
// fragment (browsers never send the fragment to the server, so it stays out of logs).
QString webClientUrl(const QString& host, int port, const QString& token);
