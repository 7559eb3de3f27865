#pragma once

#include "remote/PhoneLink.h"
#include "web/SealedChannel.h"

#include <functional>
#include <memory>

class QWebSocket;

// The browser phone after its challenge: owns the WebSocket and the session's seal. Every
// message leaves sealed as one binary frame; every frame that arrives must open as the next
// one expected, or the connection is closed with CloseBadSeal and nothing of it runs.
class SealedPhoneLink final : public PhoneLink
{
    Q_OBJECT
public:
    // A frame that did not open (or was not a sealed frame at all).
    static constexpr int CloseBadSeal = 4400;
    // Time a closing socket gets to finish its close handshake.
    static constexpr int CloseGraceMs = 2000;

    // Takes `socket` (becomes its parent) with the session key.
    SealedPhoneLink(QWebSocket* socket, const SealedChannel::Key& key, QObject* parent = nullptr);
    ~SealedPhoneLink() override;

    // Sees each opened message first; one it returns true for goes no further.
    using LocalHandler = std::function<bool(const QByteArray& message, PhoneLink* link)>;
    void setLocalHandler(LocalHandler handler) { m_localHandler = std::move(handler); }

    QHostAddress peerAddress() const override;
    quint16 peerPort() const override;
    bool isOpen() const override;
    void sendMessage(const QByteArray& message) override;
    void closeAndRelease(int closeCode) override;

private:
    void onFrame(const QByteArray& frame);
    void fail(const char* what);
    void closeSocket(int closeCode);

    QWebSocket* m_socket;
    std::unique_ptr<SealedChannel::Seal> m_seal;
    LocalHandler m_localHandler;
    QString m_address;
    bool m_closing = false; // handed back: no more signals
    bool m_closeSent = false;
};
