#pragma once

#include "platform/clipboard/ClipboardMutter.h"
#include "platform/clipboard/ClipboardSaver.h"

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

    using Types = QVector<QPair<QString, QByteArray>>;
    using SaveDone = std::function<void(const ClipboardContent&)>;

    // Puts `types` on the clipboard; `taken` (for a transient text, offered as secret) runs when
    // a program's read of it has all been written.
    bool offer(const Types& types, PutDone done = PutDone(), std::function<void()> taken = nullptr);

    void readText(qint64 maxBytes, ReadDone done);
    // Reads every type, in turn with the text reads.
    void save(const ClipboardSaveBounds& bounds, SaveDone done);

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
    // A text read, or a save of every type (`save` set).
    struct WaitingRead
    {
        qint64 maxBytes = 0;
        ReadDone done;
        ClipboardSaveBounds bounds;
        SaveDone save;
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
    void offerContent();
    // Mutter answers offers in order: this one settles every text it or an earlier one carried.
    void answerPuts(quint64 offer, bool taken);
    // Mutter asks for our text on behalf of a program pasting it.
    void send(const QString& type, uint serial);
    void nextRead();
    // Our own content read as text (Mutter refuses to pass a session its own).
    ClipboardRead ownText(qint64 maxBytes) const;
    void wait(WaitingRead read);
    void startRead(const QString& type, WaitingRead read);
    void startSave(WaitingRead read);
    void finishRead(quint64 id, const ClipboardRead& result);
    void finishSave(quint64 id, const ClipboardContent& content);

    QDBusConnection m_bus;
    QString m_session;
    State m_state = State::Closed;
    quint64 m_generation = 0;
    // The clipboard's types as Mutter last told, and whether that is our text.
    QStringList m_types;
    bool m_ownerKnown = false;
    bool m_ownsSelection = false;
    quint64 m_ownerChanges = 0;
    Types m_content; // ours, type by type
    std::function<void()> m_taken;
    bool m_textPending = false;
    int m_sendings = 0;
    std::deque<PendingPut> m_puts;
    quint64 m_offerId = 0;
    quint64 m_answeredOffer = 0; // the last offer Mutter answered
    std::deque<WaitingRead> m_waiting;
    std::optional<WaitingRead> m_current;
    quint64 m_readId = 0;
};
