#pragma once

#include "platform/clipboard/Clipboard.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <functional>

// The names UTF-8 text goes by on Wayland and X11 clipboards, best first: what our text is
// offered as.
QStringList clipboardTextTypes();
// The best of the `offered` types to read as text; empty when none is text.
QString clipboardTextType(const QStringList& offered);
// `text` under each of those names, as a clipboard offers it.
QVector<QPair<QString, QByteArray>> clipboardTextOffer(const QString& text);

// Clipboard contents travel through pipes between programs. These two move them without ever
// blocking the event loop, whatever the program at the other end does, and end with their parent:
// a transfer still running when the clipboard goes away never calls back.

// Writes `bytes` into the write end of a pipe, which it takes over, as fast as the reader takes
// them; a reader that goes away ends it early. Deletes itself once done.
class ClipboardPipeWriter final : public QObject
{
    Q_OBJECT
public:
    // `complete`: every byte went out.
    using Finished = std::function<void(bool complete)>;

    ClipboardPipeWriter(int fd, QByteArray bytes, Finished finished, QObject* parent);
    ~ClipboardPipeWriter() override;

private:
    void writeSome();
    void finish(bool complete);

    int m_fd;
    QByteArray m_bytes;
    qint64 m_written = 0;
    Finished m_finished;
    QSocketNotifier m_notifier;
};

// Reads the read end of a pipe, which it takes over, to its end (as UTF-8 text): more than
// `maxBytes` is TooLarge (and reading stops there), no end within `timeoutMs` is Unavailable.
// `done` runs once; the reader deletes itself afterwards.
class ClipboardPipeReader final : public QObject
{
    Q_OBJECT
public:
    // The bytes as they are, for any type: `result` is Text when they all came.
    using BytesDone = std::function<void(ClipboardRead::Result result, const QByteArray& bytes)>;

    ClipboardPipeReader(int fd, qint64 maxBytes, int timeoutMs, Clipboard::ReadDone done, QObject* parent);
    ClipboardPipeReader(int fd, qint64 maxBytes, int timeoutMs, BytesDone done, QObject* parent);
    ~ClipboardPipeReader() override;

private:
    void readSome();
    void finish(ClipboardRead::Result result);

    int m_fd;
    qint64 m_maxBytes;
    QByteArray m_bytes;
    BytesDone m_done;
    QSocketNotifier m_notifier;
    QTimer m_timeout;
};
