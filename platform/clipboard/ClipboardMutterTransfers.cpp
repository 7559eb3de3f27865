#include "platform/clipboard/ClipboardMutterSession.h"

#include "platform/clipboard/ClipboardPipes.h"

#include <QDBusUnixFileDescriptor>
#include <QDebug>

#include <fcntl.h>

using namespace mutterclipboard;

namespace {

// Our own copy of the file descriptor in a reply; -1 when there is none.
int takeFd(const QDBusMessage& reply)
{
    const QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!fd.isValid())
        return -1;
    return fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

} // namespace

void ClipboardMutter::Session::readText(qint64 maxBytes, ReadDone done)
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

void ClipboardMutter::Session::send(const QString& type, uint serial)
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

void ClipboardMutter::Session::nextRead()
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

void ClipboardMutter::Session::startRead(const QString& type, WaitingRead read)
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
                fd, maxBytes, ReadTimeoutMs, [this, id](const ClipboardRead& r) { finishRead(id, r); }, this);
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

void ClipboardMutter::Session::finishRead(quint64 id, const ClipboardRead& result)
{
    // A read the session's end has answered already.
    if (id != m_readId || !m_current)
        return;
    const ReadDone done = std::move(*m_current);
    m_current.reset();
    done(result);
    nextRead();
}
