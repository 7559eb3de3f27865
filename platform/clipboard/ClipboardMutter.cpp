#include "platform/clipboard/ClipboardMutter.h"

#include "platform/clipboard/ClipboardPipes.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDebug>

#include <deque>
#include <functional>
#include <optional>

#include <fcntl.h>

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");

// A desktop offering endless types costs us nothing more.
constexpr int kMaxTypes = 256;

QString pathOf(const QDBusMessage& reply)
{
    const QVariant v = reply.arguments().value(0);
    return v.canConvert<QDBusObjectPath>() ? v.value<QDBusObjectPath>().path() : v.toString();
}

// The "mime-types" of SelectionOwnerChanged. Mutter sends the list inside a structure, "(as)",
// where its interface description says "as"; either is taken, anything else is no list.
QStringList mimeTypesOf(const QVariantMap& options)
{
    const QVariant value = options.value(QStringLiteral("mime-types"));
    QStringList types;
    if (value.userType() == QMetaType::QStringList) {
        types = value.toStringList();
    } else if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        const QString signature = argument.currentSignature();
        if (signature == QLatin1String("(as)")) {
            argument.beginStructure();
            argument >> types;
            argument.endStructure();
        } else if (signature == QLatin1String("as")) {
            argument >> types;
        }
    }
    return types.mid(0, kMaxTypes);
}

// Our own copy of the file descriptor in a reply; -1 when there is none.
int takeFd(const QDBusMessage& reply)
{
    const QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!fd.isValid())
        return -1;
    return fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

} // namespace

class ClipboardMutter::Session final : public QObject
{
    Q_OBJECT
public:
    explicit Session(const QDBusConnection& bus)
        : m_bus(bus)
    {
    }

    ~Session() override { close(Answer::No); }

    void open()
    {
        if (m_state != State::Closed)
            close(Answer::Yes);
        m_state = State::Opening;
        call(kPath, kService, QStringLiteral("CreateSession"), {}, [this](const QDBusMessage& reply) {
            m_session = pathOf(reply);
            for (const char* signal : {"Closed", "SelectionOwnerChanged", "SelectionTransfer"})
                m_bus.connect(kService, m_session, kSessionInterface, QLatin1String(signal), this,
                              SLOT(onSignal(QDBusMessage)));
            // Mutter answers with the current owner's types before it replies.
            call(m_session, kSessionInterface, QStringLiteral("EnableClipboard"), {QVariantMap()},
                 [this](const QDBusMessage&) {
                     m_state = State::Open;
                     qInfo("Clipboard: GNOME remote-desktop clipboard enabled");
                     if (m_textPending)
                         offerText();
                     nextRead();
                 });
        });
    }

    bool ready() const { return m_state == State::Open; }

    // `taken` (for a transient text, offered as secret) runs at each program's read.
    bool setText(const QString& text, PutDone done = PutDone(), std::function<void()> taken = nullptr)
    {
        if (!m_bus.isConnected()) {
            if (done)
                done(false);
            return false;
        }
        if (m_state == State::Closed)
            open();
        m_text = text.toUtf8();
        m_taken = std::move(taken);
        // Reads from now on answer this text; Mutter refuses to pass a session its own.
        m_ownsSelection = true;
        m_textPending = true;
        if (done)
            m_puts.push_back(PendingPut{0, std::move(done)});
        if (m_state == State::Open)
            offerText();
        return true;
    }

    void readText(qint64 maxBytes, ReadDone done)
    {
        if (!m_bus.isConnected() || m_waiting.size() >= size_t(MaxWaitingReads)) {
            done(ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
            return;
        }
        m_waiting.push_back(WaitingRead{maxBytes, std::move(done)});
        if (m_state == State::Closed)
            open();
        else
            nextRead();
    }

private slots:
    void onSignal(const QDBusMessage& message)
    {
        // A session we left already may still report.
        if (message.path() != m_session || m_session.isEmpty())
            return;
        const QString member = message.member();
        const QString signature = message.signature();
        const QVariantList args = message.arguments();
        if (member == QLatin1String("SelectionOwnerChanged") && signature == QLatin1String("a{sv}")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.constFirst());
            m_types = mimeTypesOf(options);
            m_ownerKnown = true;
            m_ownsSelection = options.value(QStringLiteral("session-is-owner")).toBool();
        } else if (member == QLatin1String("SelectionTransfer") && signature == QLatin1String("su")) {
            send(args.at(0).toString(), args.at(1).toUInt());
        } else if (member == QLatin1String("Closed")) {
            qWarning("Clipboard: the desktop closed the remote-desktop session");
            close(Answer::Yes, Ending::ByMutter);
        }
    }

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
              const Reply& ok, const Reply& failed = Reply(), int timeoutMs = -1)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(args);
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), this);
        const quint64 generation = m_generation;
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, watcher, generation, ok, failed, method] {
                    watcher->deleteLater();
                    if (generation != m_generation)
                        return;
                    const QDBusMessage reply = watcher->reply();
                    if (reply.type() == QDBusMessage::ReplyMessage)
                        return ok(reply);
                    if (failed)
                        return failed(reply);
                    qWarning().noquote()
                        << "Clipboard: GNOME remote desktop:" << method << "failed:" << reply.errorMessage();
                    close(Answer::Yes);
                });
    }

    void notify(const QString& method, const QVariantList& args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, method);
        message.setArguments(args);
        m_bus.send(message);
    }

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
    void close(Answer answer, Ending ending = Ending::ByUs)
    {
        ++m_generation;
        if (!m_session.isEmpty()) {
            for (const char* signal : {"Closed", "SelectionOwnerChanged", "SelectionTransfer"})
                m_bus.disconnect(kService, m_session, kSessionInterface, QLatin1String(signal), this,
                                 SLOT(onSignal(QDBusMessage)));
            // Our text leaves the clipboard with the session (Mutter keeps a copy of text). A
            // session never started may refuse to stop; it ends with our connection then.
            if (ending == Ending::ByUs) {
                notify(QStringLiteral("DisableClipboard"), {});
                notify(QStringLiteral("Stop"), {});
            }
        }
        m_session.clear();
        m_state = State::Closed;
        m_types.clear();
        m_ownerKnown = false;
        m_ownsSelection = false;
        m_textPending = false;
        m_text.clear();
        m_taken = nullptr;
        std::deque<PendingPut> puts;
        puts.swap(m_puts);
        std::optional<ReadDone> current = std::move(m_current);
        m_current.reset();
        std::deque<WaitingRead> waiting;
        waiting.swap(m_waiting);
        if (answer == Answer::No)
            return;
        const ClipboardRead unavailable{ClipboardRead::Result::Unavailable, QString()};
        if (current)
            (*current)(unavailable);
        for (const WaitingRead& w : waiting)
            w.done(unavailable);
        for (const PendingPut& put : puts)
            put.done(false);
    }

    void offerText()
    {
        m_textPending = false;
        const quint64 offer = ++m_offerId;
        for (PendingPut& put : m_puts) {
            if (put.offer == 0)
                put.offer = offer;
        }
        QStringList types = clipboardTextTypes();
        if (m_taken)
            types << QLatin1String(ClipboardSecretHintType);
        call(
            m_session, kSessionInterface, QStringLiteral("SetSelection"),
            {QVariantMap{{QStringLiteral("mime-types"), types}}},
            [this, offer](const QDBusMessage&) { answerPuts(offer, true); },
            [this, offer](const QDBusMessage& reply) {
                qWarning().noquote() << "Clipboard: GNOME remote desktop did not take the text:"
                                     << reply.errorMessage();
                m_ownsSelection = false;
                answerPuts(offer, false);
            });
    }

    // Mutter answers offers in order: this one settles every text it or an earlier one carried.
    void answerPuts(quint64 offer, bool taken)
    {
        m_answeredOffer = offer;
        while (!m_puts.empty() && m_puts.front().offer != 0 && m_puts.front().offer <= offer) {
            const PutDone done = std::move(m_puts.front().done);
            m_puts.pop_front();
            done(taken);
        }
    }

    // Mutter asks for our text on behalf of a program pasting it.
    void send(const QString& type, uint serial)
    {
        const bool hint = m_taken && type == QLatin1String(ClipboardSecretHintType);
        if (m_sendings >= MaxSendings || !(hint || clipboardTextTypes().contains(type))) {
            notify(QStringLiteral("SelectionWriteDone"), {serial, false});
            return;
        }
        const QByteArray bytes = hint ? QByteArray(ClipboardSecretHintValue) : m_text;
        // Mutter's own keeper of the clipboard copies each new text while it takes our offer,
        // before it answers it; a program pastes only after that answer (our paste key follows
        // the offer on the bus), so only a read after it is the text being taken.
        const bool answered = !m_textPending && m_answeredOffer == m_offerId;
        if (!hint && m_taken && answered) {
            const std::function<void()> taken = m_taken; // it may set a new text
            taken();
        }
        const quint64 generation = m_generation;
        call(
            m_session, kSessionInterface, QStringLiteral("SelectionWrite"), {serial},
            [this, bytes, serial, generation](const QDBusMessage& reply) {
                const int fd = takeFd(reply);
                if (fd < 0) {
                    notify(QStringLiteral("SelectionWriteDone"), {serial, false});
                    return;
                }
                ++m_sendings;
                new ClipboardPipeWriter(
                    fd, bytes,
                    [this, serial, generation](bool complete) {
                        --m_sendings;
                        if (generation == m_generation)
                            notify(QStringLiteral("SelectionWriteDone"), {serial, complete});
                    },
                    this);
            },
            // A request overtaken by newer text of ours: Mutter has dropped it already.
            [](const QDBusMessage&) {});
    }

    void nextRead()
    {
        while (m_state == State::Open && !m_current && !m_waiting.empty()) {
            WaitingRead read = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (m_ownsSelection) {
                read.done(clipboardTextFromUtf8(m_text, read.maxBytes));
                continue;
            }
            // An owner offering nothing (a program that cleared the clipboard) or none at all.
            if (m_ownerKnown && m_types.isEmpty()) {
                read.done(ClipboardRead{ClipboardRead::Result::Text, QString()});
                continue;
            }
            QString type = clipboardTextType(m_types);
            if (type.isEmpty() && !m_types.isEmpty()) {
                read.done(ClipboardRead{ClipboardRead::Result::NotText, QString()});
                continue;
            }
            // Mutter says nothing of an empty clipboard until it changes, but answers a read.
            if (type.isEmpty())
                type = clipboardTextTypes().constFirst();
            startRead(type, std::move(read));
        }
    }

    void startRead(const QString& type, WaitingRead read)
    {
        m_current = std::move(read.done);
        const quint64 id = ++m_readId;
        const qint64 maxBytes = read.maxBytes;
        call(
            m_session, kSessionInterface, QStringLiteral("SelectionRead"), {type},
            [this, id, maxBytes](const QDBusMessage& reply) {
                const int fd = takeFd(reply);
                if (fd < 0)
                    return finishRead(id, ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
                new ClipboardPipeReader(
                    fd, maxBytes, ReadTimeoutMs, [this, id](const ClipboardRead& r) { finishRead(id, r); },
                    this);
            },
            [this, id, maxBytes](const QDBusMessage& reply) {
                if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.FileNotFound"))
                    return finishRead(id, ClipboardRead{ClipboardRead::Result::Text, QString()});
                // Ours after all (the news of the owner came later than the read).
                if (reply.errorMessage().contains(QLatin1String("own selection")))
                    return finishRead(id, clipboardTextFromUtf8(m_text, maxBytes));
                qWarning().noquote() << "Clipboard: GNOME remote desktop did not pass the clipboard on:"
                                     << reply.errorMessage();
                finishRead(id, ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
            },
            ReadTimeoutMs);
    }

    void finishRead(quint64 id, const ClipboardRead& result)
    {
        // A read the session's end has answered already.
        if (id != m_readId || !m_current)
            return;
        const ReadDone done = std::move(*m_current);
        m_current.reset();
        done(result);
        nextRead();
    }

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

bool ClipboardMutter::available(const QDBusConnection& bus)
{
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    return bus.interface()->isServiceRegistered(kService).value();
}

ClipboardMutter::ClipboardMutter(const QDBusConnection& bus)
    : d(std::make_unique<Session>(bus))
{
    d->open();
}

ClipboardMutter::~ClipboardMutter() = default;

bool ClipboardMutter::setText(const QString& text)
{
    return d->setText(text);
}

void ClipboardMutter::putText(const QString& text, PutDone done)
{
    d->setText(text, std::move(done));
}

void ClipboardMutter::readText(qint64 maxBytes, ReadDone done)
{
    d->readText(maxBytes, std::move(done));
}

bool ClipboardMutter::offerTransient(const QString& text, std::function<void()> taken)
{
    if (!taken)
        taken = [] {
        };
    return d->setText(text, PutDone(), std::move(taken));
}

bool ClipboardMutter::isReady() const
{
    return d->ready();
}

#include "ClipboardMutter.moc"
