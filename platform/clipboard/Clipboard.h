#pragma once

#include <QByteArray>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// What reading the PC's clipboard gave.
struct ClipboardRead
{
    enum class Result
    {
        Text,        // `text` holds it (possibly empty: an empty clipboard)
        NotText,     // something else (a picture, files) is on the clipboard
        BadEncoding, // text whose bytes are not valid UTF-8
        TooLarge,    // more than the caller's limit
        Unavailable, // the desktop gave no answer
    };
    Result result = Result::Unavailable;
    QString text;
};

// Everything the clipboard held, type by type, to be put back after a paste of ours.
struct ClipboardContent
{
    // False when it could not be read whole: it cannot be put back, so it must not be replaced.
    bool known = false;
    QVector<QPair<QString, QByteArray>> types; // none: the clipboard was empty
    // X11's primary selection (what the middle button and xterm's Shift+Insert paste), where a
    // paste goes through it too.
    QVector<QPair<QString, QByteArray>> selection;

    bool operator==(const ClipboardContent& o) const
    {
        return known == o.known && types == o.types && selection == o.selection;
    }
};

// The desktop's clipboard (the one pasted with Ctrl+V), reachable while another window has
// the focus. Text only.
class Clipboard : public QObject
{
    Q_OBJECT
public:
    using ReadDone = std::function<void(const ClipboardRead& read)>;
    using PutDone = std::function<void(bool taken)>;

    using QObject::QObject;

    // Puts `text` on the clipboard; false when the desktop cannot take it.
    virtual bool setText(const QString& text) = 0;
    // Puts `text` on the clipboard and says whether the desktop took it; `done` runs once, now
    // or later, never after this object is gone. Desktops that answer later override it.
    virtual void putText(const QString& text, PutDone done) { done(setText(text)); }
    // Reads the clipboard; `done` runs once, now or later, never after this object is gone.
    // Texts beyond `maxBytes` of UTF-8 are not passed on.
    virtual void readText(qint64 maxBytes, ReadDone done) = 0;
    // Reads everything on the clipboard, at most `maxBytes` in all (more is not known), for
    // restoreContent. `done` runs once, now or later, never after this object is gone. By
    // default the text only: anything else is not known.
    virtual void saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done);
    // Puts `text` on the clipboard for one paste, marked as secret so that clipboard managers
    // keep it out of their history (x-kde-passwordManagerHint). `taken` runs each time a
    // program reads it, where the desktop tells; false when the desktop does not take it.
    virtual bool offerTransient(const QString& text, std::function<void()> taken);
    // Whether `taken` of offerTransient ever runs here; otherwise a paste is given time.
    virtual bool tellsWhenTaken() const { return false; }
    // Puts back what saveContent read.
    virtual bool restoreContent(const ClipboardContent& content);
    // Its name in the log ("X11", "wlroots data-control").
    virtual QString name() const = 0;
};

// The implementation for this desktop session.
std::unique_ptr<Clipboard> createClipboard();

// The type that asks clipboard managers to keep a content out of their history, and its value.
constexpr const char* ClipboardSecretHintType = "x-kde-passwordManagerHint";
constexpr const char* ClipboardSecretHintValue = "secret";

// Decodes clipboard bytes offered as UTF-8 text; BadEncoding when they are not.
ClipboardRead clipboardTextFromUtf8(const QByteArray& bytes, qint64 maxBytes);
