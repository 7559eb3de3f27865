#include "platform/clipboard/ClipboardSaver.h"

#include "platform/clipboard/ClipboardPipes.h"

#include <QDebug>
#include <QPointer>

#include <algorithm>

#include <unistd.h>

void ClipboardSaver::start(const QStringList& offered, const ClipboardSaveBounds& bounds, Open open,
                           Unchanged unchanged, Done done, QObject* parent)
{
    auto* saver =
        new ClipboardSaver(offered, bounds, std::move(open), std::move(unchanged), std::move(done), parent);
    saver->next();
}

ClipboardSaver::ClipboardSaver(const QStringList& offered, const ClipboardSaveBounds& bounds, Open open,
                               Unchanged unchanged, Done done, QObject* parent)
    : QObject(parent)
    , m_bounds(bounds)
    , m_open(std::move(open))
    , m_unchanged(std::move(unchanged))
    , m_done(std::move(done))
    , m_left(bounds.totalBytes)
{
    const QString text = clipboardTextType(offered);
    if (!text.isEmpty())
        m_types << text;
    for (const QString& type : offered) {
        if (!m_types.contains(type))
            m_types << type;
    }
    if (m_types.size() > m_bounds.types) {
        qWarning() << "Clipboard: types not saved beyond the first" << m_bounds.types
                   << "offered:" << m_types.size() - m_bounds.types;
        m_skipped += m_types.size() - m_bounds.types;
        m_types = m_types.mid(0, m_bounds.types);
    }
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        const int unread = int(m_types.size()) - m_next + 1; // the one being read too
        qWarning() << "Clipboard: saving took longer than" << m_bounds.deadlineMs
                   << "ms; types not saved:" << unread;
        m_skipped += unread;
        finish();
    });
    m_deadline.start(m_bounds.deadlineMs);
}

void ClipboardSaver::next()
{
    if (m_next == m_types.size() || !m_unchanged())
        return finish();
    const QString type = m_types.at(m_next++);
    const quint64 step = ++m_step;
    const QPointer<ClipboardSaver> self(this);
    m_open(type, [self, step](int fd) {
        if (self && self->m_done)
            return self->opened(step, fd);
        if (fd >= 0)
            ::close(fd);
    });
}

void ClipboardSaver::opened(quint64 step, int fd)
{
    if (step != m_step) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    if (fd == Absent)
        return next();
    if (fd < 0) {
        skip(QStringLiteral("refused"));
        return next();
    }
    const QString type = m_types.at(m_next - 1);
    const qint64 maxBytes = std::min(m_bounds.typeBytes, m_left);
    // The save's deadline ends a read first: a stalled type costs the ones after it, always.
    new ClipboardPipeReader(
        fd, maxBytes, m_bounds.deadlineMs + 1000,
        ClipboardPipeReader::BytesDone(
            [this, type, maxBytes](ClipboardRead::Result result, const QByteArray& bytes) {
                if (result == ClipboardRead::Result::Text) {
                    m_left -= bytes.size();
                    m_content.types.append({type, bytes});
                } else if (result == ClipboardRead::Result::TooLarge) {
                    skip(QStringLiteral("over %1 bytes").arg(maxBytes));
                } else {
                    skip(QStringLiteral("not given"));
                }
                next();
            }),
        this);
}

void ClipboardSaver::skip(const QString& why)
{
    ++m_skipped;
    QDebug log = qWarning().noquote();
    log << "Clipboard: a type is not saved," << why + QLatin1Char(':');
    // Its name quoted: it comes from another program.
    log.quote() << m_types.at(m_next - 1);
}

void ClipboardSaver::finish()
{
    if (!m_done)
        return;
    m_deadline.stop();
    ClipboardContent content = std::move(m_content);
    // Something was there, and none of it could be kept: replacing it would lose it all.
    content.known = m_unchanged() && !(content.types.isEmpty() && m_skipped > 0);
    if (!content.known)
        content = ClipboardContent();
    const Done done = std::move(m_done);
    m_done = nullptr;
    deleteLater();
    done(content);
}
