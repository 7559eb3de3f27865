#include "platform/clipboard/ClipboardMutterSession.h"

#include "platform/clipboard/ClipboardPipes.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDebug>

using namespace mutterclipboard;

namespace {

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

} // namespace

void ClipboardMutter::Session::open()
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
                     offerContent();
                 nextRead();
             });
    });
}

bool ClipboardMutter::Session::offer(const Types& types, PutDone done, std::function<void()> taken)
{
    if (!m_bus.isConnected()) {
        if (done)
            done(false);
        return false;
    }
    if (m_state == State::Closed)
        open();
    m_content = types;
    m_taken = std::move(taken);
    // Reads from now on answer this content; Mutter refuses to pass a session its own.
    m_ownsSelection = true;
    m_textPending = true;
    if (done)
        m_puts.push_back(PendingPut{0, std::move(done)});
    if (m_state == State::Open)
        offerContent();
    return true;
}

void ClipboardMutter::Session::onSignal(const QDBusMessage& message)
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
        ++m_ownerChanges;
        m_ownsSelection = options.value(QStringLiteral("session-is-owner")).toBool();
    } else if (member == QLatin1String("SelectionTransfer") && signature == QLatin1String("su")) {
        send(args.at(0).toString(), args.at(1).toUInt());
    } else if (member == QLatin1String("Closed")) {
        qWarning("Clipboard: the desktop closed the remote-desktop session");
        close(Answer::Yes, Ending::ByMutter);
    }
}

void ClipboardMutter::Session::call(const QString& path, const QString& interface, const QString& method,
                                    const QVariantList& args, const Reply& ok, const Reply& failed,
                                    int timeoutMs)
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
                qWarning().noquote() << "Clipboard: GNOME remote desktop:" << method
                                     << "failed:" << reply.errorMessage();
                close(Answer::Yes);
            });
}

void ClipboardMutter::Session::notify(const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, method);
    message.setArguments(args);
    m_bus.send(message);
}

void ClipboardMutter::Session::close(Answer answer, Ending ending)
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
    m_content.clear();
    m_taken = nullptr;
    std::deque<PendingPut> puts;
    puts.swap(m_puts);
    std::optional<WaitingRead> current = std::move(m_current);
    m_current.reset();
    std::deque<WaitingRead> waiting;
    waiting.swap(m_waiting);
    if (answer == Answer::No)
        return;
    const ClipboardRead unavailable{ClipboardRead::Result::Unavailable, QString()};
    if (current)
        waiting.push_front(std::move(*current));
    for (const WaitingRead& w : waiting) {
        if (w.save)
            w.save(ClipboardContent());
        else
            w.done(unavailable);
    }
    for (const PendingPut& put : puts)
        put.done(false);
}

void ClipboardMutter::Session::offerContent()
{
    m_textPending = false;
    const quint64 offer = ++m_offerId;
    for (PendingPut& put : m_puts) {
        if (put.offer == 0)
            put.offer = offer;
    }
    QStringList types;
    for (const auto& type : qAsConst(m_content))
        types << type.first;
    call(
        m_session, kSessionInterface, QStringLiteral("SetSelection"),
        {QVariantMap{{QStringLiteral("mime-types"), types}}},
        [this, offer](const QDBusMessage&) { answerPuts(offer, true); },
        [this, offer](const QDBusMessage& reply) {
            qWarning().noquote() << "Clipboard: GNOME remote desktop did not take the content:"
                                 << reply.errorMessage();
            m_ownsSelection = false;
            answerPuts(offer, false);
        });
}

void ClipboardMutter::Session::answerPuts(quint64 offer, bool taken)
{
    m_answeredOffer = offer;
    while (!m_puts.empty() && m_puts.front().offer != 0 && m_puts.front().offer <= offer) {
        const PutDone done = std::move(m_puts.front().done);
        m_puts.pop_front();
        done(taken);
    }
}
