#pragma once

#include "remote/PhoneLink.h"
#include "web/SealedChannel.h"

#include <QElapsedTimer>

#include <functional>
#include <memory>

class QTimer;
class WebSocketConnection;

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
    // A page that pings (every second or two while it is in front) and then is not heard
    // from this long has gone: it is dropped, and nothing that still trickles in runs.
    static constexpr int SilenceLimitMs = 10000;
    // The page gives a link up once its pings go unanswered for 3 s, and pings every second
    // or two while it is in front; a frame that comes after a longer gap than this was held
    // back by the network (or by a frozen PC) on a link the page has already left, and is
    // input the user made long ago: it and what follows run nothing.
    static constexpr int StaleGapMs = 5000;
    // Going silent is not a fault of the page (it may come back): a normal close.
    static constexpr int CloseSilent = 4408;

    // Takes `socket` (becomes its parent) with the session key.
    SealedPhoneLink(WebSocketConnection* socket, const SealedChannel::Key& key, QObject* parent = nullptr);
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
    // Answers a ping at once, outside the queue of commands; true when `message` was one.
    bool answerPing(const QByteArray& message);
    void onSilence();
    // Ends a link the page has left, saying why; nothing more of it runs.
    void giveUp(const QString& why);

    WebSocketConnection* m_socket;
    std::unique_ptr<SealedChannel::Seal> m_seal;
    LocalHandler m_localHandler;
    QTimer* m_silence;     // runs from the first ping on
    QElapsedTimer m_heard; // since the last frame of a page that pings
    QString m_address;
    bool m_closing = false; // handed back: no more signals
    bool m_closeSent = false;
};
