#include "platform/clipboard/ClipboardMutterSession.h"

#include "platform/clipboard/ClipboardPipes.h"

#include <QDBusUnixFileDescriptor>
#include <QDebug>

#include <algorithm>

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
    WaitingRead read;
    read.maxBytes = maxBytes;
    read.done = std::move(done);
    wait(std::move(read));
}

void ClipboardMutter::Session::save(const ClipboardSaveBounds& bounds, SaveDone done)
{
    if (!m_bus.isConnected() || m_waiting.size() >= size_t(MaxWaitingReads)) {
        done(ClipboardContent());
        return;
    }
    WaitingRead read;
    read.bounds = bounds;
    read.save = std::move(done);
    wait(std::move(read));
}

void ClipboardMutter::Session::wait(WaitingRead read)
{
    m_waiting.push_back(std::move(read));
    if (m_state == State::Closed)
        open();
    else
        nextRead();
}

void ClipboardMutter::Session::send(const QString& type, uint serial)
{
    const auto offered =
        std::find_if(m_content.cbegin(), m_content.cend(),
                     [&type](const QPair<QString, QByteArray>& t) { return t.first == type; });
    if (m_sendings >= MaxSendings || offered == m_content.cend()) {
        notify(QStringLiteral("SelectionWriteDone"), {serial, false});
        return;
    }
    const bool hint = type == QLatin1String(ClipboardSecretHintType);
    const QByteArray bytes = offered->second;
    // Mutter's own keeper of the clipboard copies each new text while it takes our offer,
    // before it answers it; a program pastes only after that answer (our paste key follows
    // the offer on the bus), so only a read after it is the text being taken.
    const bool answered = !m_textPending && m_answeredOffer == m_offerId;
    // Taken once all of it is written, not when asked for: a new offer while the program
    // still reads makes GTK drop the read, and the paste is lost.
    const std::function<void()> taken = !hint && answered ? m_taken : nullptr;
    const quint64 generation = m_generation;
    call(
        m_session, kSessionInterface, QStringLiteral("SelectionWrite"), {serial},
        [this, bytes, serial, generation, taken](const QDBusMessage& reply) {
            const int fd = takeFd(reply);
            if (fd < 0) {
                notify(QStringLiteral("SelectionWriteDone"), {serial, false});
                return;
            }
            ++m_sendings;
            new ClipboardPipeWriter(
                fd, bytes,
                [this, serial, generation, taken](bool complete) {
                    --m_sendings;
                    if (generation != m_generation)
                        return;
                    notify(QStringLiteral("SelectionWriteDone"), {serial, complete});
                    if (complete && taken)
                        taken(); // it may set a new text
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
        if (read.save) {
            startSave(std::move(read));
            continue;
        }
        if (m_ownsSelection) {
            read.done(ownText(read.maxBytes));
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
    const quint64 id = ++m_readId;
    const qint64 maxBytes = read.maxBytes;
    m_current = std::move(read);
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
                return finishRead(id, ownText(maxBytes));
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
    const ReadDone done = std::move(m_current->done);
    m_current.reset();
    done(result);
    nextRead();
}

ClipboardRead ClipboardMutter::Session::ownText(qint64 maxBytes) const
{
    QStringList types;
    for (const auto& type : m_content)
        types << type.first;
    const QString text = clipboardTextType(types);
    for (const auto& type : m_content) {
        if (type.first == text)
            return clipboardTextFromUtf8(type.second, maxBytes);
    }
    if (m_content.isEmpty())
        return ClipboardRead{ClipboardRead::Result::Text, QString()};
    return ClipboardRead{ClipboardRead::Result::NotText, QString()};
}

void ClipboardMutter::Session::startSave(WaitingRead read)
{
    // Ours: what we offer, bar the mark that a transient text is secret.
    if (m_ownsSelection) {
        ClipboardContent content;
        content.known = true;
        for (const auto& type : qAsConst(m_content)) {
            if (type.first != QLatin1String(ClipboardSecretHintType))
                content.types.append(type);
        }
        read.save(content);
        return;
    }
    if (m_ownerKnown && m_types.isEmpty()) {
        ClipboardContent empty;
        empty.known = true;
        read.save(empty);
        return;
    }
    // Mutter says nothing of an empty clipboard until it changes, but answers a read.
    const QStringList types = m_ownerKnown ? m_types : QStringList{clipboardTextTypes().constFirst()};
    const quint64 id = ++m_readId;
    const quint64 owner = m_ownerChanges;
    const ClipboardSaveBounds bounds = read.bounds;
    m_current = std::move(read);
    ClipboardSaver::start(
        types, bounds,
        [this, bounds](const QString& type, const ClipboardSaver::Opened& opened) {
            call(
                m_session, kSessionInterface, QStringLiteral("SelectionRead"), {type},
                [opened](const QDBusMessage& reply) { opened(takeFd(reply)); },
                [opened](const QDBusMessage& reply) {
                    const bool absent =
                        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.FileNotFound");
                    if (!absent)
                        qWarning().noquote()
                            << "Clipboard: GNOME remote desktop did not pass the clipboard on:"
                            << reply.errorMessage();
                    opened(absent ? ClipboardSaver::Absent : -1);
                },
                bounds.deadlineMs);
        },
        // A new owner meanwhile (ours included): the types read may be of two contents.
        [this, id, owner] { return id == m_readId && owner == m_ownerChanges && !m_ownsSelection; },
        [this, id](const ClipboardContent& content) { finishSave(id, content); }, this);
}

void ClipboardMutter::Session::finishSave(quint64 id, const ClipboardContent& content)
{
    if (id != m_readId || !m_current)
        return;
    const SaveDone done = std::move(m_current->save);
    m_current.reset();
    done(content);
    nextRead();
}
