#pragma once

#include "platform/clipboard/Clipboard.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// What a save of everything on the clipboard reads at most: a program offering endless types or
// bytes, or never answering, costs us no more than this.
struct ClipboardSaveBounds
{
    qint64 totalBytes = 0;              // all types together (the caller's limit)
    qint64 typeBytes = 8 * 1024 * 1024; // one type
    int types = 32;                     // types read; the others are skipped
    int deadlineMs = 5000;              // the whole save
};

// Reads the clipboard's types one after the other (a desktop may refuse reads in parallel), the
// best text first so that the bounds never cost the text. A type beyond the bounds, or one the
// owner fails to give, is skipped and named in the log (never its bytes); the others are kept.
// A clipboard of which nothing could be kept is not known: it could not be put back at all.
class ClipboardSaver final : public QObject
{
    Q_OBJECT
public:
    // Passed to `Opened` instead of a pipe: the owner has no such type, or there is no owner.
    static constexpr int Absent = -2;
    // The read end of a pipe that `type`'s bytes come through (taken over), -1 when the desktop
    // refused it, or Absent. Runs at most once; later than the deadline it is ignored.
    using Opened = std::function<void(int fd)>;
    using Open = std::function<void(const QString& type, Opened opened)>;
    // False once the clipboard has changed since the save began: what was read is not known.
    using Unchanged = std::function<bool()>;
    using Done = std::function<void(const ClipboardContent& content)>;

    // Starts at once; `done` runs once, never after `parent` is gone; the saver deletes itself.
    static void start(const QStringList& offered, const ClipboardSaveBounds& bounds, Open open,
                      Unchanged unchanged, Done done, QObject* parent);

private:
    ClipboardSaver(const QStringList& offered, const ClipboardSaveBounds& bounds, Open open,
                   Unchanged unchanged, Done done, QObject* parent);
    void next();
    void opened(quint64 step, int fd);
    void skip(const QString& why);
    void finish();

    QStringList m_types;
    ClipboardSaveBounds m_bounds;
    Open m_open;
    Unchanged m_unchanged;
    Done m_done;
    int m_next = 0;
    quint64 m_step = 0; // the type being read; an answer for an earlier one is late
    qint64 m_left = 0;
    int m_skipped = 0;
    bool m_emptyOwner = false; // nothing could be read because there was nothing
    ClipboardContent m_content;
    QTimer m_deadline;
};
