#pragma once

#include "platform/clipboard/ClipboardMutter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

// What the clipboard's two jobs share: ClipboardMutterSession.cpp opens and ends the session and
// offers our text; ClipboardMutterTransfers.cpp moves contents through pipes both ways.

namespace mutterclipboard {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");

} // namespace mutterclipboard

class ClipboardMutter::Session final : public QObject
{
    Q_OBJECT
public:
    explicit Session(const QDBusConnection& bus)
        : m_bus(bus)
    {
    }

    ~Session() override { close(Answer::No); }

    void open();

    bool ready() const { return m_state == State::Open; }

    // `taken` (for a transient text, offered as secret) runs at each program's read.
    bool setText(const QString& text, PutDone done = PutDone(), std::function<void()> taken = nullptr);

    void readText(qint64 maxBytes, ReadDone done);

private slots:
    void onSignal(const QDBusMessage& message);

private:
    enum class State
    {
        Closed,
        Opening,
        Open,
    };
    struct PendingPut
    {
        quint64 offer = 0; // the SetSelection that carries it; 0 until one is sent
        PutDone done;
    };
    struct WaitingRead
    {
        qint64 maxBytes = 0;
        ReadDone done;
    };
    using Reply = std::function<void(const QDBusMessage&)>;

    // Set-up calls without their own failure handling end the session.
    void call(const QString& path, const QString& interface, const QString& method, const QVariantList& args,
              const Reply& ok, const Reply& failed = Reply(), int timeoutMs = -1);
    void notify(const QString& method, const QVariantList& args);

    // Waiting reads are answered as unavailable when a session ends, not when we go.
    enum class Answer
    {
        No,
        Yes,
    };
    enum class Ending
    {
        ByUs,
        ByMutter, // it closed the session itself
    };

    // Ends the session, forgetting what it knew.
    void close(Answer answer, Ending ending = Ending::ByUs);
    void offerText();
    // Mutter answers offers in order: this one settles every text it or an earlier one carried.
    void answerPuts(quint64 offer, bool taken);
    // Mutter asks for our text on behalf of a program pasting it.
    void send(const QString& type, uint serial);
    void nextRead();
    void startRead(const QString& type, WaitingRead read);
    void finishRead(quint64 id, const ClipboardRead& result);

    QDBusConnection m_bus;
    QString m_session;
    State m_state = State::Closed;
    quint64 m_generation = 0;
    // The clipboard's types as Mutter last told, and whether that is our text.
    QStringList m_types;
    bool m_ownerKnown = false;
    bool m_ownsSelection = false;
    QByteArray m_text;
    std::function<void()> m_taken;
    bool m_textPending = false;
    int m_sendings = 0;
    std::deque<PendingPut> m_puts;
    quint64 m_offerId = 0;
    quint64 m_answeredOffer = 0; // the last offer Mutter answered
    std::deque<WaitingRead> m_waiting;
    std::optional<ReadDone> m_current;
    quint64 m_readId = 0;
};
